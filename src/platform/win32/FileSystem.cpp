#include "platform/FileSystem.h"

#include <io.h>
#include <windows.h>

#include <cstring>

#include "base/AppWideString.h"
#include "platform/win32/WideModulePath.h"

namespace kvx::platform {

namespace {

// The executable's path, read once: wide as the system holds it, and the ANSI text the
// launcher works with.
struct ModulePaths {
    AppWideString wide;
    AppString ansi;
    bool noAnsiForm = false;
};

AppWideString wideModulePath() {
    // The traditional 260-unit buffer, grown for longer paths: a truncated path is never used.
    AppWideString path;
    for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
        path.setLength(static_cast<int32_t>(size));
        if (path.length() != static_cast<int32_t>(size)) return AppWideString();
        DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<LPWSTR>(path.data()), size);
        if (n == 0) return AppWideString();
        if (n < size) {
            path.setLength(static_cast<int32_t>(n));
            return path;
        }
    }
    return AppWideString();
}

AppWideString shortPathOf(const AppWideString& path) {
    AppWideString out;
    LPCWSTR longPath = reinterpret_cast<LPCWSTR>(path.data());
    DWORD needed = GetShortPathNameW(longPath, nullptr, 0);
    if (needed == 0) return out;
    out.setLength(static_cast<int32_t>(needed));
    if (out.length() != static_cast<int32_t>(needed)) return AppWideString();
    DWORD n = GetShortPathNameW(longPath, reinterpret_cast<LPWSTR>(out.data()), needed);
    if (n == 0 || n >= needed) return AppWideString();
    out.setLength(static_cast<int32_t>(n));
    return out;
}

ModulePaths readModulePaths() {
    ModulePaths paths;
    paths.wide = wideModulePath();
    if (paths.wide.length() == 0) return paths;
    // GetModuleFileNameA would hand out "?" for every character the code page lacks, and
    // nothing could open that path.
    if (paths.ansi.assignWideExactly(paths.wide.data(), paths.wide.length())) return paths;
    // The short form of the folder with the file's own name, when that name fits: the side
    // file is then still found by the name it was given beside the executable.
    int32_t nameStart = paths.wide.length();
    while (nameStart > 0 && paths.wide.data()[nameStart - 1] != '\\' && paths.wide.data()[nameStart - 1] != '/') {
        --nameStart;
    }
    AppString name;
    if (nameStart > 0 && name.assignWideExactly(paths.wide.data() + nameStart, paths.wide.length() - nameStart)) {
        AppWideString folder(paths.wide.data(), nameStart);
        AppWideString shortFolder = shortPathOf(folder);
        if (shortFolder.length() > 0 && paths.ansi.assignWideExactly(shortFolder.data(), shortFolder.length())) {
            if (!isPathSeparator(paths.ansi.lastChar())) paths.ansi.appendChar('\\');
            paths.ansi.append(name);
            return paths;
        }
    }
    AppWideString shortForm = shortPathOf(paths.wide);
    if (shortForm.length() > 0 && paths.ansi.assignWideExactly(shortForm.data(), shortForm.length())) return paths;
    paths.ansi.setLength(0);
    paths.noAnsiForm = true;
    return paths;
}

// Read once, on first use, whichever thread asks first.
const ModulePaths& modulePaths() {
    static const ModulePaths paths = readModulePaths();
    return paths;
}

}  // namespace

AppString modulePath() { return modulePaths().ansi; }

bool modulePathHasNoAnsiForm() { return modulePaths().noAnsiForm; }

const uint16_t* wideModulePathUnits() { return modulePaths().wide.data(); }

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

// Existence is what Windows can tell cheaply: every file and folder there can be read by its attributes.
bool isReadable(const char* path) { return path && *path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

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
