#pragma once
// Files: a read-only mapping of a whole file, and a plain whole-file read.

#include <cstdint>

#include "base/AppString.h"

namespace kvx::platform {

// Maps the last bytes of a file read-only (sharing read and write with other processes).
// Only the tail is mapped, so a large file costs no address space and touches only its
// last pages. Owns the file handle, the mapping and the view; the destructor releases all.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps at least the last `tailBytes` bytes of `path` (the whole file when smaller).
    [[nodiscard]] bool openTail(const char* path, uint64_t tailBytes);
    // The same for the running executable's own file, opened by the path the system holds
    // (on Windows wide, so any install folder works).
    [[nodiscard]] bool openModuleTail(uint64_t tailBytes);
    // The mapped bytes: the file's bytes from fileSize() - size() to its end.
    const unsigned char* data() const { return data_; }
    uint64_t size() const { return size_; }
    uint64_t fileSize() const { return fileSize_; }
    void close();

private:
    bool mapTail(uint64_t tailBytes);

    const unsigned char* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t fileSize_ = 0;
    intptr_t file_ = -1;
    [[maybe_unused]] void* mapping_ = nullptr;  // Windows only: the mapping object
    void* view_ = nullptr;
    uint64_t viewSize_ = 0;
};

// Reads the regular file at `path` and appends its bytes to `out`: at most the size it had
// when opened, and only bytes actually read. False when the file cannot be opened or is not
// a regular file (a FIFO, a device or a directory), which is never waited on.
bool appendFileContents(const char* path, AppString& out);

}  // namespace kvx::platform
