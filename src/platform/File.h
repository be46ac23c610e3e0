#pragma once
// Files as kvxpack reads and writes them: whole transfers (a short read or write counts as a
// failure), the system's reason kept for the message, and the kind of what a path names.
// The launcher reads through MappedFile.h instead and links none of this.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvx::platform {

// What a path names, symbolic links followed.
enum class FileKind { Missing, Regular, Directory, Fifo, Device, Socket, Other };

FileKind fileKind(const std::string& path);
// "a directory", "a FIFO", ... for messages.
const char* fileKindText(FileKind kind);

// The path that writing to `path` really replaces: `path` itself, or, when its last component
// is a symbolic link, the file the chain of links ends at (relative targets resolved against
// the link's folder). False with a reason when the links loop or cannot be read.
[[nodiscard]] bool finalLinkTarget(const std::string& path, std::string& target, std::string& error);

// One open file, closed when the object goes.
class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a regular file for reading. The kind is checked before the open and the open
    // never blocks, so a FIFO, a device or a directory is refused without waiting.
    [[nodiscard]] bool openRead(const std::string& path);
    // Creates a file that must not exist yet, for writing; nameTaken() tells that it did.
    // Others may delete it while it is open (the interrupt cleanup on Windows does).
    [[nodiscard]] bool createNew(const std::string& path);
    [[nodiscard]] bool nameTaken() const { return nameTaken_; }

    [[nodiscard]] bool isOpen() const { return handle_ != INVALID; }
    [[nodiscard]] bool size(std::uint64_t& bytes);
    // Reads exactly `length` bytes at `offset`.
    [[nodiscard]] bool readAt(std::uint64_t offset, void* buffer, std::size_t length);
    // Appends all of `data` at the current end.
    [[nodiscard]] bool write(const void* data, std::size_t length);
    // Overwrites `length` bytes at `offset` (a header field patched once the data is known);
    // the next write() still appends at the end.
    [[nodiscard]] bool writeAt(std::uint64_t offset, const void* data, std::size_t length);
    // Appends `length` bytes of `from` starting at `offset`, through `buffer`. A failure's
    // reason is left in the file it concerns.
    [[nodiscard]] bool appendFrom(File& from, std::uint64_t offset, std::uint64_t length, unsigned char* buffer,
                                  std::size_t bufferSize);
    // Closes the file; a failure here means written data may not have reached the disk.
    [[nodiscard]] bool close();

    // Why the last operation failed, in the system's words.
    const std::string& lastError() const { return error_; }

private:
    friend class FileView;
    static constexpr std::intptr_t INVALID = -1;  // an fd of -1 and INVALID_HANDLE_VALUE alike
    void recordSystemError();
    void release();

    std::intptr_t handle_ = INVALID;
    std::string error_;
    bool nameTaken_ = false;
};

// A read-only view of a piece of an open file: large ranges are looked at in place, without
// a copy into a buffer. Where a system cannot map a file, map() fails and the caller reads.
class FileView {
public:
    FileView() = default;
    ~FileView() { release(); }
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // Views `length` bytes of `file` from `offset`, to be read once from start to end; an
    // earlier view goes. False (nothing recorded in `file`) when the system cannot map the
    // file or the range reaches past its current end.
    [[nodiscard]] bool map(const File& file, std::uint64_t offset, std::size_t length);
    const unsigned char* data() const { return data_; }
    void release();

private:
    void* base_ = nullptr;
    std::size_t mapped_ = 0;
    const unsigned char* data_ = nullptr;
};

}  // namespace kvx::platform
