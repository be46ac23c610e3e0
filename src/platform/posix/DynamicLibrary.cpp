#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace kvx::platform {

DynamicLibrary::~DynamicLibrary() { unload(); }

bool DynamicLibrary::load(const char* path) {
    unload();
    if (!path || !*path) return false;
    handle_ = ::dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    return handle_ != nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

void DynamicLibrary::unload() {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

void suppressLoaderErrorDialogs() {}
void searchRuntimeFolderInsteadOfCurrentDirectory(const char*) {}
bool addLibrarySearchDirectory(const char*) { return false; }

}  // namespace kvx::platform
