#include "platform/JavaRuntime.h"

namespace kvx::platform {

namespace {
const char* const HOME_SUFFIXES[] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};
constexpr int32_t HOME_SUFFIX_COUNT = static_cast<int32_t>(sizeof HOME_SUFFIXES / sizeof HOME_SUFFIXES[0]);
}  // namespace

const char* jvmLibraryName() { return "jvm.dll"; }

int32_t javaHomeSuffixCount() { return HOME_SUFFIX_COUNT; }

const char* javaHomeSuffix(int32_t i) { return i >= 0 && i < HOME_SUFFIX_COUNT ? HOME_SUFFIXES[i] : ""; }

char pathListSeparator() { return ';'; }

bool isLibraryDirSeparator(char c) { return c == '\\'; }

// Installed runtimes are named by the registry; there is no further system default.
AppString systemJavaHome() { return AppString(); }

}  // namespace kvx::platform
