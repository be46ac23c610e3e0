#pragma once
// ImageWriter: appends the executable's bytes to the output file in order and sums them for
// the image checksum on the way, so the checksum needs no second pass over the file.

#include <cstdint>
#include <string>

#include "pe/Checksum.h"
#include "platform/File.h"
#include "zip/ByteSink.h"

namespace kvxpack {

class ImageWriter : public ByteSink {
public:
    explicit ImageWriter(kvx::platform::File& file) : file_(file) {}

    [[nodiscard]] bool write(const void* data, std::size_t length) override {
        if (!file_.write(data, length)) return false;
        checksum_.add(static_cast<const unsigned char*>(data), length, size_);
        size_ += length;
        return true;
    }

    // Every byte is read into `buffer` and summed before it is written.
    [[nodiscard]] bool appendFrom(kvx::platform::File& from, std::uint64_t offset, std::uint64_t length,
                                  unsigned char* buffer, std::size_t bufferSize) override {
        while (length > 0) {
            const std::size_t chunk = length < bufferSize ? static_cast<std::size_t>(length) : bufferSize;
            if (!from.readAt(offset, buffer, chunk) || !write(buffer, chunk)) return false;
            offset += chunk;
            length -= chunk;
        }
        return true;
    }

    kvx::platform::File& file() { return file_; }
    const std::string& lastError() const override { return file_.lastError(); }
    std::uint64_t size() const { return size_; }
    const PeChecksum& checksum() const { return checksum_; }

private:
    kvx::platform::File& file_;
    PeChecksum checksum_;
    std::uint64_t size_ = 0;
};

}  // namespace kvxpack
