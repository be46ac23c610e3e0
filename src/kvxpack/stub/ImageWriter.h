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

    // Every byte is summed as it is written: looked at in place, piece by piece, where the
    // system can map the input (no copy into `buffer`), else read into `buffer`.
    [[nodiscard]] bool appendFrom(kvx::platform::File& from, std::uint64_t offset, std::uint64_t length,
                                  unsigned char* buffer, std::size_t bufferSize) override {
        kvx::platform::FileView view;
        while (length > 0) {
            std::size_t chunk = length < VIEW_SIZE ? static_cast<std::size_t>(length) : VIEW_SIZE;
            if (view.map(from, offset, chunk)) {
                // Summed and written in pieces that stay in the processor's cache in between.
                for (std::size_t done = 0; done < chunk; done += PIECE_SIZE) {
                    const std::size_t piece = chunk - done < PIECE_SIZE ? chunk - done : PIECE_SIZE;
                    if (!write(view.data() + done, piece)) return false;
                }
            } else {
                if (chunk > bufferSize) chunk = bufferSize;
                if (!from.readAt(offset, buffer, chunk) || !write(buffer, chunk)) return false;
            }
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
    // Large enough that mapping costs little per byte, small enough to stay out of the memory peak.
    static constexpr std::size_t VIEW_SIZE = 4u << 20;
    static constexpr std::size_t PIECE_SIZE = 1u << 20;

    kvx::platform::File& file_;
    PeChecksum checksum_;
    std::uint64_t size_ = 0;
};

}  // namespace kvxpack
