#pragma once
// CentralDirectory: the entries of a ZIP archive as its central directory lists them, each
// checked against its local header, so that its data can be copied raw.

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ByteSource.h"
#include "zip/EndRecord.h"

namespace kvxpack {

struct ZipEntry {
    std::string name;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::string extra;    // the central extra fields, without Zip64 sizes and time stamps
    std::string comment;
    std::uint64_t dataOffset = 0;  // the compressed data's first byte in the source
};

// General-purpose flags this reader refuses: encryption (bits 0 and 6) and a masked local
// header (bit 13) — neither can be copied to another position and still be read.
constexpr std::uint16_t ENCRYPTION_FLAGS = 0x0001 | 0x0040 | 0x2000;
// Bit 3: sizes and CRC follow the data; bit 11: the name is UTF-8.
constexpr std::uint16_t DESCRIPTOR_FLAG = 0x0008;

// Reads every central directory entry in order. Each entry's local header must stand where
// the directory says (shifted by the record's prefix) and its data must end before the
// central directory. Fails with a reason naming the entry.
[[nodiscard]] bool readCentralDirectory(ByteSource& archive, const EndRecord& record, std::vector<ZipEntry>& entries,
                                        std::string& error);

// The extra fields of `extra` without those with the given ids; false when the fields do
// not parse (a length running past the end).
[[nodiscard]] bool filterExtraFields(const std::string& extra, std::string& kept);

}  // namespace kvxpack
