#pragma once
// Finding the Java runtime library, in the order that `jre_order` sets:
//   c  the configured path (`jvmdll`)
//   b  a runtime bundled beside the executable (runtime\, jre\, jdk\)
//   j  the JavaSoft keys of Java 9 and later (JDK, JRE), machine-wide and per user
//   v  the keys of vendors' installers; on Linux /usr/lib/jvm/* and SDKMAN's runtimes
//   s  the JavaSoft "Java Runtime Environment" key (Linux: the system's runtime)
//   i  the IBM key
//   e  JRE_HOME, then JAVA_HOME
// Every library found is checked for this program's architecture before it is taken.

#include "base/AppString.h"
#include "jre/JavaVersion.h"

namespace kvx {

class ConfigStore;

// What a search saw besides its result: a library it skipped because it was built for
// another architecture (the first one), so the user can be told why nothing was found.
struct JvmSearchReport {
    AppString wrongArchitecturePath;
    int32_t wrongArchitectureBits = 0;
};

// The path of the runtime library, or empty text when no method found one.
AppString findJvmLibrary(const ConfigStore& store, JvmSearchReport* report = nullptr);
AppString findJvmFromConfig(const ConfigStore& store);
AppString findJvmFromEnvironment();
AppString findJvmFromRegistry(const char* key);
AppString findJvmInHome(const AppString& home);

// The methods that may find several runtimes take the highest version that is not below
// `minimum` (when `hasMinimum`); versions are read from the key names and the homes'
// `release` files, never by starting Java.
AppString findBundledJvm(bool hasMinimum, JavaVersion minimum);
// Every sub-directory of `root` (ending in a separator) taken as a Java home.
AppString findJvmInRuntimeRoot(const AppString& root, bool hasMinimum, JavaVersion minimum);

// The order letters this launcher knows, and the order used when `jre_order` names none.
constexpr const char* KNOWN_ORDER_LETTERS = "cbjvsie";
constexpr const char* DEFAULT_JRE_ORDER = "csie";

}  // namespace kvx
