#pragma once
// Dynamic libraries: the runtime's jvm.dll / libjvm.so, loaded by path.

namespace kvx::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    [[nodiscard]] bool load(const char* path);
    void* symbol(const char* name) const;
    bool isLoaded() const { return handle_ != nullptr; }
    void unload();

private:
    void* handle_ = nullptr;
};

// Adds SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX to the error mode, so a missing
// dependency shows no system dialog. Nothing on Linux.
void suppressLoaderErrorDialogs();
// Removes the current directory from the DLL search path. Nothing on Linux.
void removeCurrentDirectoryFromDllSearch();

}  // namespace kvx::platform
