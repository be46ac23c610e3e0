#include "pe/Checksum.h"

#include <cstring>

namespace kvxpack {

namespace {
constexpr std::uint64_t LANES = 0x0000FFFF0000FFFFull;
}  // namespace

void PeChecksum::add(const unsigned char* data, std::size_t length, std::uint64_t offset) {
    if (length == 0) return;
    if (offset % 2 != 0) {  // the high byte of a word
        sum_ += static_cast<std::uint64_t>(data[0]) << 8;
        ++data;
        --length;
    }
    // Eight bytes at a time: four words, summed in two 32-bit lanes that cannot overflow
    // within one block.
    while (length >= 8) {
        const std::size_t block = length / 8 < 16384 ? length / 8 : 16384;
        std::uint64_t lanes = 0;
        for (std::size_t i = 0; i < block; ++i) {
            std::uint64_t word;
            std::memcpy(&word, data + i * 8, 8);
            lanes += (word & LANES) + ((word >> 16) & LANES);
        }
        sum_ += (lanes & 0xFFFFFFFFu) + (lanes >> 32);
        data += block * 8;
        length -= block * 8;
    }
    for (std::size_t i = 0; i < length; ++i) sum_ += static_cast<std::uint64_t>(data[i]) << ((i % 2) * 8);
}

std::uint32_t PeChecksum::finish(std::uint64_t fileLength) const {
    std::uint64_t folded = sum_;
    while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<std::uint32_t>(folded + fileLength);
}

}  // namespace kvxpack
