#pragma once
// The PE image checksum: the 16-bit one's-complement sum of the whole file's little-endian
// words (the checksum field counted as zero, an odd last byte as a word of its own) plus the
// file length.

#include <cstddef>
#include <cstdint>

namespace kvxpack {

class PeChecksum {
public:
    // Adds `length` bytes that sit at `offset` in the file; pieces may come in any order.
    void add(const unsigned char* data, std::size_t length, std::uint64_t offset);
    std::uint32_t finish(std::uint64_t fileLength) const;

private:
    std::uint64_t sum_ = 0;
};

}  // namespace kvxpack
