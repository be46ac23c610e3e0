#include "platform/FileSystem.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvx::platform {

AppString modulePath() {
    // The link's target can be any length: grow until it fits.
    AppString path;
    for (int32_t size = 256; size <= (1 << 20); size *= 2) {
        path.setLength(size);
        if (path.length() != size) return AppString();
        ssize_t n = ::readlink("/proc/self/exe", path.data(), static_cast<size_t>(size));
        if (n < 0) return AppString();
        if (n < size) {
            path.setLength(static_cast<int32_t>(n));
            return path;
        }
    }
    return AppString();
}

bool modulePathHasNoAnsiForm() { return false; }

AppString currentDirectory() {
    AppString dir;
    for (int32_t size = 256; size <= (1 << 20); size *= 2) {
        dir.setLength(size);
        if (dir.length() != size) return AppString();
        if (::getcwd(dir.data(), static_cast<size_t>(size))) {
            dir.setLength(static_cast<int32_t>(std::strlen(dir.data())));
            return dir;
        }
        if (errno != ERANGE) return AppString();
    }
    return AppString();
}

bool setCurrentDirectory(const char* path) { return path && ::chdir(path) == 0; }

uint32_t fullPathName(const char* path, char* buffer, uint32_t bufferSize) {
    if (!path || !*path) return 0;
    // Lexical resolution like GetFullPathNameA: the file need not exist; "." and ".."
    // components go, and both separators count.
    AppString combined;
    if (path[0] != '/' && path[0] != '\\') {
        combined = currentDirectory();
        if (combined.isEmpty()) return 0;
        combined.appendChar('/');
    }
    combined.append(path);
    AppString result;
    const char* p = combined.c_str();
    while (*p) {
        while (*p == '/' || *p == '\\') ++p;
        const char* start = p;
        while (*p && *p != '/' && *p != '\\') ++p;
        int32_t n = static_cast<int32_t>(p - start);
        if (n == 0 || (n == 1 && start[0] == '.')) continue;
        if (n == 2 && start[0] == '.' && start[1] == '.') {
            int32_t cut = result.length();
            while (cut > 0 && result.charAt(cut - 1, 0) != '/') --cut;
            result.setLength(cut > 0 ? cut - 1 : 0);
            continue;
        }
        result.appendChar('/');
        result.append(start, n);
    }
    if (result.isEmpty()) result.append("/");
    // A path that ended in a separator keeps it, as on Windows.
    char last = combined.lastChar();
    if ((last == '/' || last == '\\') && result.lastChar() != '/') result.appendChar('/');
    uint32_t needed = static_cast<uint32_t>(result.length()) + 1;
    if (!buffer || bufferSize < needed) return needed;
    std::memcpy(buffer, result.c_str(), needed);
    return needed - 1;
}

bool isReadable(const char* path) { return path && *path && ::access(path, R_OK) == 0; }

char classPathSeparator() { return ':'; }
char nativeSeparator() { return '/'; }

struct DirectoryEnumeration::State {
    DIR* dir = nullptr;
    AppString path;
};

DirectoryEnumeration::~DirectoryEnumeration() { close(); }

bool DirectoryEnumeration::open(const char* directory) {
    close();
    DIR* dir = ::opendir(directory && *directory ? directory : ".");
    if (!dir) return false;
    state_ = new State;
    state_->dir = dir;
    state_->path = directory;
    return true;
}

bool DirectoryEnumeration::next(AppString& name, bool& isDirectory) {
    if (!state_) return false;
    while (struct dirent* entry = ::readdir(state_->dir)) {
        name = entry->d_name;
        AppString full = state_->path;
        if (!full.isEmpty() && !isPathSeparator(full.lastChar())) full.appendChar('/');
        full.append(entry->d_name);
        struct stat st;
        // Follow links, as the Windows enumeration reports a junction's target kind.
        if (::stat(full.c_str(), &st) != 0) {
            if (::lstat(full.c_str(), &st) != 0) continue;
        }
        isDirectory = S_ISDIR(st.st_mode);
        return true;
    }
    return false;
}

void DirectoryEnumeration::close() {
    if (state_) {
        ::closedir(state_->dir);
        delete state_;
        state_ = nullptr;
    }
}

bool DirectoryEnumeration::directoryIdentity(const char* directory, uint64_t& volume, uint64_t& index) {
    struct stat st;
    if (!directory || ::stat(directory, &st) != 0) return false;
    volume = static_cast<uint64_t>(st.st_dev);
    index = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool pathExists(const char* path) {
    struct stat st;
    return path && *path && ::stat(path, &st) == 0;
}

}  // namespace kvx::platform
