#pragma once
// File: one open file, closed when the object goes. Transfers are whole: a short read or
// write counts as a failure, and the reason is kept for the message.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvxpack {

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a regular file for reading; directories and devices are refused.
    [[nodiscard]] bool openRead(const std::string& path);
    // Creates a file that must not exist yet, for writing; nameTaken() tells that it did.
    [[nodiscard]] bool createNew(const std::string& path);
    [[nodiscard]] bool nameTaken() const { return nameTaken_; }

    [[nodiscard]] bool isOpen() const { return handle_ != INVALID; }
    [[nodiscard]] bool size(std::uint64_t& bytes);
    // Reads exactly `length` bytes at `offset`.
    [[nodiscard]] bool readAt(std::uint64_t offset, void* buffer, std::size_t length);
    // Appends all of `data` at the current end.
    [[nodiscard]] bool write(const void* data, std::size_t length);
    // Overwrites `length` bytes at `offset` (a header field patched after the data is known).
    [[nodiscard]] bool writeAt(std::uint64_t offset, const void* data, std::size_t length);
    // Closes the file; a failure here means written data may not have reached the disk.
    [[nodiscard]] bool close();

    // Why the last operation failed, in the system's words.
    const std::string& lastError() const { return error_; }

private:
    static constexpr std::intptr_t INVALID = -1;  // an fd of -1 and INVALID_HANDLE_VALUE alike
    void recordSystemError();
    void release();

    std::intptr_t handle_ = INVALID;
    std::string error_;
    bool nameTaken_ = false;
};

}  // namespace kvxpack
