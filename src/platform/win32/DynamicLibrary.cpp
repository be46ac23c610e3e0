#include "platform/DynamicLibrary.h"

#include <windows.h>

namespace kvx::platform {

DynamicLibrary::~DynamicLibrary() { unload(); }

bool DynamicLibrary::load(const char* path) {
    unload();
    if (!path || !*path) return false;
    handle_ = LoadLibraryA(path);
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

void removeCurrentDirectoryFromDllSearch() { SetDllDirectoryA(""); }

}  // namespace kvx::platform
