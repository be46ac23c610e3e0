#include "pe/Checksum.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvxpack {

void PeChecksum::add(const unsigned char* data, std::size_t length, std::uint64_t offset) {
    if (length == 0) return;
    if (offset % 2 != 0) {  // the high byte of a word
        sum_ += static_cast<std::uint64_t>(data[0]) << 8;
        ++data;
        --length;
    }
    // Since 65536 is 1 modulo 65535, a sum of 32-bit words folds to the same one's-complement
    // sum as the 16-bit words; 64 bits hold 2^31 of them without overflow.
    const std::size_t blocks = length / 16;
#if defined(__SSE2__)
    // Four 64-bit lanes, each taking a 32-bit word of every 16 bytes (the loop's speed is the pack's).
    const __m128i zero = _mm_setzero_si128();
    __m128i low = zero;
    __m128i high = zero;
    for (std::size_t i = 0; i < blocks; ++i) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i * 16));
        low = _mm_add_epi64(low, _mm_unpacklo_epi32(words, zero));
        high = _mm_add_epi64(high, _mm_unpackhi_epi32(words, zero));
    }
    std::uint64_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), high);
    for (const std::uint64_t lane : lanes) sum_ += (lane & 0xFFFFFFFFu) + (lane >> 32);
#else
    // Eight bytes at a time, into two independent sums.
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
#endif
    for (std::size_t i = blocks * 16; i < length; ++i) sum_ += static_cast<std::uint64_t>(data[i]) << ((i % 2) * 8);
}

std::uint32_t PeChecksum::finish(std::uint64_t fileLength) const {
    std::uint64_t folded = sum_;
    while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<std::uint32_t>(folded + fileLength);
}

}  // namespace kvxpack
