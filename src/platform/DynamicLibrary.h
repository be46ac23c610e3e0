#pragma once
// Dynamic libraries: the runtime's jvm.dll / libjvm.so, loaded by path.

namespace kvx::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Windows: where the system has the safe search flags, the libraries `path` imports are
    // looked for only in its own folder, the program's folder, System32 and the folders
    // given to addLibrarySearchDirectory (never the working directory or PATH); elsewhere
    // with the plain search.
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
// Adds `directory` to the folders later loads search for imported libraries (AddDllDirectory,
// looked up at run time). False where the system lacks it, and always on Linux.
bool addLibrarySearchDirectory(const char* directory);

}  // namespace kvx::platform
