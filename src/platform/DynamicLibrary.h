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
// Puts the runtime's folder `runtimeFolder` (its bin) where the current directory stood in the
// DLL search path, so that a library planted in the working directory is never loaded, and
// the runtime's own libraries find each other by plain name even in an order java.exe
// never meets (zip.dll imports java.dll, and a runtime that maps an archive of the class
// path's classes loads zip.dll first). Nothing on Linux.
void searchRuntimeFolderInsteadOfCurrentDirectory(const char* runtimeFolder);
// Adds `directory` to the folders later loads search for imported libraries (AddDllDirectory,
// looked up at run time). False where the system lacks it, and always on Linux.
bool addLibrarySearchDirectory(const char* directory);

}  // namespace kvx::platform
