#include "platform/JavaRuntime.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/Environment.h"

namespace kvx::platform {

namespace {

const char* const HOME_SUFFIXES[] = {"", "lib/", "jre/lib/amd64/", "../jre/lib/amd64/"};
constexpr int32_t HOME_SUFFIX_COUNT = static_cast<int32_t>(sizeof HOME_SUFFIXES / sizeof HOME_SUFFIXES[0]);

const char* const BUNDLED_FOLDERS[] = {"runtime/", "jre/", "jdk/"};
constexpr int32_t BUNDLED_FOLDER_COUNT = static_cast<int32_t>(sizeof BUNDLED_FOLDERS / sizeof BUNDLED_FOLDERS[0]);
constexpr const char* PACKAGED_RUNTIMES = "/usr/lib/jvm/";
constexpr const char* SDKMAN_RUNTIMES = "/.sdkman/candidates/java/";

constexpr const char* DEFAULT_JAVA_HOME = "/usr/lib/jvm/default-java";
constexpr const char* JAVA_TAIL = "/bin/java";

bool isDirectory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool isExecutableFile(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode) && ::access(path, X_OK) == 0;
}

// The first `java` on PATH, as the shell would run it. Empty PATH entries (which mean the
// working directory) are not searched: the launcher never picks a runtime by where it was
// started from.
AppString javaOnPath() {
    AppString path;
    if (!getEnv("PATH", path)) return AppString();
    const char* p = path.c_str();
    while (*p) {
        const char* end = std::strchr(p, ':');
        int32_t n = end ? static_cast<int32_t>(end - p) : static_cast<int32_t>(std::strlen(p));
        if (n > 0) {
            AppString candidate(p, n);
            if (candidate.lastChar() != '/') candidate.appendChar('/');
            candidate.append("java");
            if (isExecutableFile(candidate.c_str())) return candidate;
        }
        if (!end) break;
        p = end + 1;
    }
    return AppString();
}

}  // namespace

const char* jvmLibraryName() { return "libjvm.so"; }

int32_t javaHomeSuffixCount() { return HOME_SUFFIX_COUNT; }

const char* javaHomeSuffix(int32_t i) { return i >= 0 && i < HOME_SUFFIX_COUNT ? HOME_SUFFIXES[i] : ""; }

char pathListSeparator() { return ':'; }

bool isLibraryDirSeparator(char c) { return c == '\\' || c == '/'; }

AppString systemJavaHome() {
    if (isDirectory(DEFAULT_JAVA_HOME)) return AppString(DEFAULT_JAVA_HOME);
    AppString java = javaOnPath();
    if (java.isEmpty()) return AppString();
    // /usr/bin/java is normally a chain of links (alternatives) into the JDK's bin directory.
    char* real = ::realpath(java.c_str(), nullptr);
    if (!real) return AppString();
    AppString resolved(real);
    std::free(real);
    int32_t tail = static_cast<int32_t>(std::strlen(JAVA_TAIL));
    if (resolved.length() <= tail || resolved.right(tail) != JAVA_TAIL) return AppString();
    return resolved.left(resolved.length() - tail + 1);  // keeps the "/" before "bin"
}

int32_t bundledRuntimeFolderCount() { return BUNDLED_FOLDER_COUNT; }

const char* bundledRuntimeFolder(int32_t i) { return i >= 0 && i < BUNDLED_FOLDER_COUNT ? BUNDLED_FOLDERS[i] : ""; }

int32_t installedRuntimeRootCount() { return 2; }

AppString installedRuntimeRoot(int32_t i) {
    if (i == 0) return AppString(PACKAGED_RUNTIMES);
    if (i != 1) return AppString();
    AppString home;
    // Without a home folder there is no SDKMAN tree to look in (never the working directory).
    if (!getEnv("HOME", home) || home.isEmpty() || home.charAt(0, '\0') != '/') return AppString();
    while (home.length() > 1 && home.lastChar() == '/') home.setLength(home.length() - 1);
    home.append(SDKMAN_RUNTIMES);
    return home;
}

// libjvm ends the process with the C library's exit(), which is this program's too.
bool runWhenRuntimeExits(void (*handler)()) { return handler && std::atexit(handler) == 0; }

}  // namespace kvx::platform
