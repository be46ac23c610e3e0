#pragma once
// Native access for the application: from JDK 24 on, a class that calls System.load (the
// API classes load this executable that way) makes the runtime warn on standard error, and
// later releases refuse the call, unless native access is enabled for it. The launcher
// enables it for the class path's unnamed module on the runtimes that restrict the call.

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

class JvmHost;

constexpr const char* NATIVE_ACCESS_OPTION = "--enable-native-access=ALL-UNNAMED";

// True when a runtime of `featureRelease` gets the option: it restricts System.load and
// accepts the option through JNI_CreateJavaVM.
bool wantsNativeAccessOption(int32_t featureRelease);
// True for an option with which the configuration decides native access itself
// (--enable-native-access, --illegal-native-access).
bool isNativeAccessOption(const char* option);

// Adds the option to `host` after the configured ones when the runtime of `jvmLibrary` (its
// version read from the release file of its Java home) wants it and no configured option
// decides native access already.
void addNativeAccessOption(const AppString& jvmLibrary, JvmHost& host);

}  // namespace kvx
