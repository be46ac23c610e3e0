#include "platform/DynamicLibrary.h"

#include <windows.h>

#include "base/AppString.h"
#include "base/AppWideString.h"
#include "base/GrowBuffer.h"

// The safe search flags (Windows 8, and Windows 7 with KB2533623); older headers lack them.
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace kvx::platform {

namespace {

typedef void*(WINAPI* AddDllDirectoryFunction)(const wchar_t* directory);

// AddDllDirectory exists exactly where LoadLibraryEx understands the search flags.
AddDllDirectoryFunction addDllDirectoryFunction() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return nullptr;
    // Through void*: FARPROC's own signature is a placeholder.
    void* function = reinterpret_cast<void*>(GetProcAddress(kernel, "AddDllDirectory"));
    return reinterpret_cast<AddDllDirectoryFunction>(function);
}

// Set once a folder was added: later loads search the added folders too. Main thread only.
bool userDirectoriesAdded = false;

// GetFullPathNameA of `path`: absolute, "/" turned into "\" (the search flags need a full
// path with backslashes). Empty when it cannot be had in full.
AppString fullPath(const char* path) {
    GrowBuffer<char> buffer;
    uint32_t size = MAX_PATH;
    for (int attempt = 0; attempt < 3; ++attempt) {
        buffer.setLength(static_cast<int32_t>(size));
        if (buffer.length() != static_cast<int32_t>(size)) return AppString();
        DWORD got = GetFullPathNameA(path, size, buffer.data(), nullptr);
        if (got == 0) return AppString();
        if (got < size) return AppString(buffer.data(), static_cast<int32_t>(got));
        size = got;
    }
    return AppString();
}

}  // namespace

DynamicLibrary::~DynamicLibrary() { unload(); }

bool DynamicLibrary::load(const char* path) {
    unload();
    if (!path || !*path) return false;
    bool hasFolder = false;
    for (const char* p = path; *p; ++p) hasFolder = hasFolder || *p == '\\' || *p == '/' || *p == ':';
    if (addDllDirectoryFunction() && !hasFolder) {
        // A bare name: the program's folder and System32, never the working directory.
        handle_ = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        return handle_ != nullptr;
    }
    AppString full = addDllDirectoryFunction() ? fullPath(path) : AppString();
    if (!full.isEmpty()) {
        DWORD flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
        if (userDirectoriesAdded) flags |= LOAD_LIBRARY_SEARCH_USER_DIRS;
        handle_ = LoadLibraryExA(full.c_str(), nullptr, flags);
    } else {
        handle_ = LoadLibraryA(path);
    }
    return handle_ != nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::unload() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void suppressLoaderErrorDialogs() {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void searchRuntimeFolderInsteadOfCurrentDirectory(const char* runtimeFolder) {
    AppString full = runtimeFolder && *runtimeFolder ? fullPath(runtimeFolder) : AppString();
    // An empty text removes the current directory alone.
    if (full.isEmpty() || !SetDllDirectoryA(full.c_str())) SetDllDirectoryA("");
}

bool addLibrarySearchDirectory(const char* directory) {
    AddDllDirectoryFunction add = addDllDirectoryFunction();
    if (!add || !directory || !*directory) return false;
    // AddDllDirectory wants an absolute path; the folder may be written as "...\client\..".
    AppString full = fullPath(directory);
    if (full.isEmpty()) return false;
    AppWideString wide;
    wide.assignNarrow(full.c_str());
    if (!wide.data() || !add(reinterpret_cast<const wchar_t*>(wide.data()))) return false;
    userDirectoriesAdded = true;
    return true;
}

}  // namespace kvx::platform
