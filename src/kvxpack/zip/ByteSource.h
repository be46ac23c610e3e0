#pragma once
// ByteSource: where an archive's bytes come from, a file or bytes in memory (the runtime
// classes carried inside kvxpack, fuzz inputs).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"

namespace kvxpack {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly `length` bytes at `offset`; false with lastError() set otherwise.
    [[nodiscard]] virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
    virtual const std::string& lastError() const = 0;
    // The open file behind the source, for copying without a detour (null for memory).
    virtual kvx::platform::File* file() { return nullptr; }
    // The bytes themselves when they are in memory (null for a file).
    virtual const unsigned char* bytes() const { return nullptr; }
};

class FileSource : public ByteSource {
public:
    FileSource(kvx::platform::File& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        return file_.readAt(offset, buffer, length);
    }
    const std::string& lastError() const override { return file_.lastError(); }
    kvx::platform::File* file() override { return &file_; }

private:
    kvx::platform::File& file_;
    std::uint64_t size_;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    const std::string& lastError() const override { return error_; }
    const unsigned char* bytes() const override { return data_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::string error_;
};

}  // namespace kvxpack
