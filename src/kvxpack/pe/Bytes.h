#pragma once
// Little-endian fields in byte buffers, for the PE, icon and bitmap formats. Callers check
// bounds before reading; these only assemble and split the values.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvxpack {

using Bytes = std::vector<unsigned char>;

inline std::uint16_t le16(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

inline std::uint32_t le32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline void put16(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

inline void put32(unsigned char* at, std::uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

inline void append16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

inline void append32(Bytes& out, std::uint32_t value) {
    append16(out, value & 0xFFFF);
    append16(out, value >> 16);
}

inline void padTo(Bytes& out, std::size_t alignment) {
    while (out.size() % alignment != 0) out.push_back(0);
}

// True when [offset, offset + length) lies within `size`, without overflow.
inline bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace kvxpack
