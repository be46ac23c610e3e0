#pragma once
// Finding the Java runtime library: the configured path (c), the JavaSoft (s) and IBM (i)
// registry keys, and JRE_HOME / JAVA_HOME (e), in the order that `jre_order` sets.

#include "base/AppString.h"

namespace kvx {

class ConfigStore;

// The path of the runtime library, or empty text when no method found one.
AppString findJvmLibrary(const ConfigStore& store);
AppString findJvmFromConfig(const ConfigStore& store);
AppString findJvmFromEnvironment();
AppString findJvmFromRegistry(const char* key);
AppString findJvmInHome(const AppString& home);

}  // namespace kvx
