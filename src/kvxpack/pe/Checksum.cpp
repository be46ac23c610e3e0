#include "pe/Checksum.h"

#include <cstring>

namespace kvxpack {

void PeChecksum::add(const unsigned char* data, std::size_t length, std::uint64_t offset) {
    if (length == 0) return;
    if (offset % 2 != 0) {  // the high byte of a word
        sum_ += static_cast<std::uint64_t>(data[0]) << 8;
        ++data;
        --length;
    }
    // Since 65536 is 1 modulo 65535, a sum of 32-bit words folds to the same one's-complement
    // sum as the 16-bit words; 64 bits hold 2^31 pairs of them without overflow.
    // Read eight bytes at a time, into two independent sums (the loop's speed is the pack's).
    const std::size_t blocks = length / 16;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, data + i * 16, 8);
        std::memcpy(&b, data + i * 16 + 8, 8);
        first += (a & 0xFFFFFFFFu) + (a >> 32);
        second += (b & 0xFFFFFFFFu) + (b >> 32);
    }
    sum_ += (first & 0xFFFFFFFFu) + (first >> 32) + (second & 0xFFFFFFFFu) + (second >> 32);
    for (std::size_t i = blocks * 16; i < length; ++i) sum_ += static_cast<std::uint64_t>(data[i]) << ((i % 2) * 8);
}

std::uint32_t PeChecksum::finish(std::uint64_t fileLength) const {
    std::uint64_t folded = sum_;
    while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<std::uint32_t>(folded + fileLength);
}

}  // namespace kvxpack
