#include "config/AppPaths.h"

#include <cstring>

#include "config/ConfigStore.h"
#include "platform/FileSystem.h"

namespace kvx {

namespace {

// The buffer the working-directory change resolves into; a full path that does not fit
// is that step's failure case.
constexpr uint32_t WORKING_DIR_BUFFER_SIZE = 260;

// Constructed empty on first use, before the store sets them; destroyed at exit.
AppString& executableDirStorage() {
    static AppString dir;
    return dir;
}

AppString& startupDirStorage() {
    static AppString dir;
    return dir;
}

// The part of `base` that a rooted path ("\x" or "/x") is taken relative to: the drive
// ("C:") of a drive path; "\\server\share" of a network path, so that a rooted value
// stays on the executable's share instead of turning into a malformed "\\\x"; nothing
// for any other base (on Linux the rooted path is already absolute).
AppString rootOf(const AppString& base) {
    if (base.charAt(1, 0) == ':') return base.left(2);
    if (isPathSeparator(base.charAt(0, 0)) && isPathSeparator(base.charAt(1, 0))) {
        int32_t pos = 2;
        for (int part = 0; part < 2; ++part) {  // the server name, then the share name
            if (part == 1 && pos < base.length()) ++pos;  // the separator between them
            while (pos < base.length() && !isPathSeparator(base.charAt(pos, 0))) ++pos;
        }
        return base.left(pos);
    }
    return AppString("");
}

}  // namespace

const AppString& executableDir() { return executableDirStorage(); }

const AppString& startupDir() { return startupDirStorage(); }

void setApplicationPaths(const AppString& modulePath, const AppString& startupDirectory) {
    executableDirStorage() = directoryOf(modulePath);
    startupDirStorage() = startupDirectory;
}

AppString startupDirFrom(const AppString& workingDirectory) {
    AppString dir(workingDirectory.c_str());
    if (!isPathSeparator(dir.lastChar())) dir.appendChar('/');
    return dir;
}

AppString directoryOf(const AppString& path) {
    int32_t i = path.length();
    while (i > 0 && !isPathSeparator(path.charAt(i - 1, 0))) --i;
    return path.left(i);
}

bool isReadablePath(const char* path) { return platform::isReadable(path); }

AppString resolveAppPath(const AppString& path) {
    if (isPathSeparator(path.charAt(0, 0)) || path.charAt(1, 0) == ':') return path;
    // Plain concatenation: the directories end in a separator, and nothing is normalised.
    AppString first = executableDir() + path;
    if (isReadablePath(first.c_str())) return first;
    AppString second = startupDir() + path;
    if (isReadablePath(second.c_str())) return second;
    return first;
}

AppString resolveBesideExecutable(const AppString& path) {
    if (isPathSeparator(path.charAt(0, 0)) || path.charAt(1, 0) == ':') return path;
    return executableDir() + path;
}

uint32_t fullPathFrom(const AppString& base, const char* path, char* buffer, uint32_t bufferSize) {
    if (!path) path = "";
    // A drive-relative value such as D:data is resolved by the system against that drive.
    if (path[0] != '\0' && path[1] == ':') return platform::fullPathName(path, buffer, bufferSize);
    AppString combined;
    if (isPathSeparator(path[0])) {
        combined = rootOf(base);
    } else {
        combined = base;
        // On Windows only a trailing backslash counts; a "/" gets one added, which the
        // resolution then collapses.
        if (combined.lastChar() != platform::nativeSeparator()) combined.appendChar(platform::nativeSeparator());
    }
    combined.append(path);
    return platform::fullPathName(combined.c_str(), buffer, bufferSize);
}

void setWorkingDir(const char* value) {
    // Only the launch calls this, with its store published; without one nothing happens.
    ConfigStore* store = currentConfigStore();
    if (!store || !value) return;
    AppString base = store->getAppHome();
    char buffer[WORKING_DIR_BUFFER_SIZE];
    uint32_t n = fullPathFrom(base, value, buffer, WORKING_DIR_BUFFER_SIZE);
    if (n > 0 && n < WORKING_DIR_BUFFER_SIZE) platform::setCurrentDirectory(buffer);
}

}  // namespace kvx
