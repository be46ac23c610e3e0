#include "platform/FileSystem.h"

#include <io.h>
#include <windows.h>

#include <cstring>

namespace kvx::platform {

AppString modulePath() {
    // The traditional 260-character buffer, grown for longer paths: a truncated module
    // path is never used.
    AppString path;
    for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
        path.setLength(static_cast<int32_t>(size));
        if (path.length() != static_cast<int32_t>(size)) return AppString();
        DWORD n = GetModuleFileNameA(nullptr, path.data(), size);
        if (n == 0) return AppString();
        if (n < size) {
            path.setLength(static_cast<int32_t>(n));
            return path;
        }
    }
    return AppString();
}

AppString currentDirectory() {
    AppString dir;
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return dir;
    dir.setLength(static_cast<int32_t>(needed));
    if (dir.length() != static_cast<int32_t>(needed)) return AppString();
    DWORD n = GetCurrentDirectoryA(needed, dir.data());
    if (n == 0 || n >= needed) return AppString();
    dir.setLength(static_cast<int32_t>(n));
    return dir;
}

bool setCurrentDirectory(const char* path) { return path && SetCurrentDirectoryA(path) != 0; }

uint32_t fullPathName(const char* path, char* buffer, uint32_t bufferSize) {
    if (!path) return 0;
    return GetFullPathNameA(path, bufferSize, buffer, nullptr);
}

bool isReadable(const char* path) { return path && *path && _access(path, 4) == 0; }

char classPathSeparator() { return ';'; }
char nativeSeparator() { return '\\'; }

struct DirectoryEnumeration::State {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data;
    bool pending = false;  // `data` holds an entry not yet handed out
};

DirectoryEnumeration::~DirectoryEnumeration() { close(); }

bool DirectoryEnumeration::open(const char* directory) {
    close();
    AppString pattern(directory);
    pattern.append("*.*");
    State* state = new State;
    state->find = FindFirstFileA(pattern.c_str(), &state->data);
    if (state->find == INVALID_HANDLE_VALUE) {
        delete state;
        return false;
    }
    state->pending = true;
    state_ = state;
    return true;
}

bool DirectoryEnumeration::next(AppString& name, bool& isDirectory) {
    if (!state_) return false;
    if (!state_->pending && !FindNextFileA(state_->find, &state_->data)) return false;
    state_->pending = false;
    name = state_->data.cFileName;
    isDirectory = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

void DirectoryEnumeration::close() {
    if (state_) {
        FindClose(state_->find);
        delete state_;
        state_ = nullptr;
    }
}

bool DirectoryEnumeration::directoryIdentity(const char* directory, uint64_t& volume, uint64_t& index) {
    HANDLE h = CreateFileA(directory, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return false;
    volume = info.dwVolumeSerialNumber;
    index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool pathExists(const char* path) {
    return path && *path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace kvx::platform
