#pragma once
// ImageWriter: appends the executable's bytes to the output file in order and sums them for
// the image checksum on the way, so the checksum needs no second pass over the file.

#include <cstdint>
#include <string>

#include "os/File.h"
#include "pe/Checksum.h"

namespace kvxpack {

class ImageWriter {
public:
    explicit ImageWriter(File& file) : file_(file) {}

    [[nodiscard]] bool write(const void* data, std::size_t length) {
        if (!file_.write(data, length)) return false;
        checksum_.add(static_cast<const unsigned char*>(data), length, size_);
        size_ += length;
        return true;
    }

    File& file() { return file_; }
    const std::string& lastError() const { return file_.lastError(); }
    std::uint64_t size() const { return size_; }
    const PeChecksum& checksum() const { return checksum_; }

private:
    File& file_;
    PeChecksum checksum_;
    std::uint64_t size_ = 0;
};

}  // namespace kvxpack
