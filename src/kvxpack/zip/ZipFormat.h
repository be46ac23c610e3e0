#pragma once
// Record signatures and sizes of the ZIP format, and little-endian field access.

#include <cstddef>
#include <cstdint>

namespace kvxpack {

constexpr std::uint32_t END_SIGNATURE = 0x06054B50;          // "PK" 5 6
constexpr std::uint32_t CENTRAL_SIGNATURE = 0x02014B50;      // "PK" 1 2
constexpr std::uint32_t LOCAL_SIGNATURE = 0x04034B50;        // "PK" 3 4
constexpr std::uint32_t ZIP64_END_SIGNATURE = 0x06064B50;    // "PK" 6 6
constexpr std::uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064B50;  // "PK" 6 7

constexpr std::size_t END_RECORD_SIZE = 22;
constexpr std::size_t END_COMMENT_LENGTH_AT = 20;
constexpr std::size_t MAX_END_COMMENT = 0xFFFF;
constexpr std::size_t CENTRAL_HEADER_MIN_SIZE = 46;
constexpr std::size_t LOCAL_HEADER_MIN_SIZE = 30;
constexpr std::uint16_t ZIP64_EXTRA_ID = 0x0001;
constexpr std::uint32_t ZIP32_LIMIT = 0xFFFFFFFFu;  // a 32-bit field with this value defers to Zip64
constexpr std::uint16_t ZIP16_LIMIT = 0xFFFF;
constexpr std::size_t ZIP64_LOCATOR_SIZE = 20;
constexpr std::size_t ZIP64_END_FIXED_SIZE = 56;  // the record without extensible data

inline std::uint16_t readLe16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t readLe32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::uint64_t readLe64(const unsigned char* at) {
    return static_cast<std::uint64_t>(readLe32(at)) | (static_cast<std::uint64_t>(readLe32(at + 4)) << 32);
}

inline void writeLe16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>(value >> 8);
}

inline void writeLe32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void writeLe64(unsigned char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace kvxpack
