#include "platform/JavaRuntime.h"

namespace kvx::platform {

namespace {
const char* const HOME_SUFFIXES[] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};
constexpr int32_t HOME_SUFFIX_COUNT = static_cast<int32_t>(sizeof HOME_SUFFIXES / sizeof HOME_SUFFIXES[0]);
const char* const BUNDLED_FOLDERS[] = {"runtime\\", "jre\\", "jdk\\"};
constexpr int32_t BUNDLED_FOLDER_COUNT = static_cast<int32_t>(sizeof BUNDLED_FOLDERS / sizeof BUNDLED_FOLDERS[0]);
}  // namespace

const char* jvmLibraryName() { return "jvm.dll"; }

int32_t javaHomeSuffixCount() { return HOME_SUFFIX_COUNT; }

const char* javaHomeSuffix(int32_t i) { return i >= 0 && i < HOME_SUFFIX_COUNT ? HOME_SUFFIXES[i] : ""; }

char pathListSeparator() { return ';'; }

bool isLibraryDirSeparator(char c) { return c == '\\' || c == '/'; }

// Installed runtimes are named by the registry; there is no further system default.
AppString systemJavaHome() { return AppString(); }

int32_t bundledRuntimeFolderCount() { return BUNDLED_FOLDER_COUNT; }

const char* bundledRuntimeFolder(int32_t i) { return i >= 0 && i < BUNDLED_FOLDER_COUNT ? BUNDLED_FOLDERS[i] : ""; }

int32_t installedRuntimeRootCount() { return 0; }

AppString installedRuntimeRoot(int32_t) { return AppString(); }

}  // namespace kvx::platform
