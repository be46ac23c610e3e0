#pragma once
// The values of the PE/COFF headers that more than one reader of launchers checks.

#include <cstdint>

namespace kvxpack {

constexpr std::uint32_t PE_SIGNATURE = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t MACHINE_I386 = 0x014C;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t MAGIC_PE32 = 0x010B;
constexpr std::uint16_t MAGIC_PE32_PLUS = 0x020B;

}  // namespace kvxpack
