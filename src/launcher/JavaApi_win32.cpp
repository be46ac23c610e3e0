// On Windows the Java API's classes load the executable itself as their native library, and
// the splash showed before the configuration was read: neither step of the Linux launch
// (JavaApi_posix.cpp, Splash_posix.cpp) has anything to do here.
#include "launcher/Services.h"

namespace kvx {

void startRuntimeSplash(const char*) {}
void registerJavaApiNatives(void*) {}

}  // namespace kvx
