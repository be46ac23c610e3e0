#pragma once
// EndRecord: the end-of-central-directory record of a ZIP archive, found and checked, and
// where its central directory really is.

#include <array>
#include <cstdint>
#include <string>

#include "zip/ByteSource.h"
#include "zip/ZipFormat.h"

namespace kvxpack {

struct EndRecord {
    std::uint64_t offset = 0;                            // first byte of the record in the file
    std::array<unsigned char, END_RECORD_SIZE> bytes{};  // the record as found, comment length included
    bool zip64 = false;                                  // a Zip64 locator and end record stand before it
    std::uint64_t zip64EndOffset = 0;                    // where the Zip64 end record starts in the file
    std::uint64_t entryCount = 0;                        // entries in the central directory
    std::uint64_t directoryStart = 0;                    // the directory's first byte in the file
    std::uint64_t directorySize = 0;
    // Bytes in front of the archive (a stub): recorded offsets plus this are file positions.
    std::uint64_t prefix = 0;
    std::uint64_t trailing = 0;  // bytes after the record's comment, which readers ignore
};

// Finds the record that really ends the archive. Its signature may also occur inside the
// archive's comment or data, so a candidate counts only when its central directory is where
// it says (with the usual signature) and its comment runs exactly to the end of the file;
// or, for an archive with bytes appended after it, when its first local header is where the
// directory's position says too. The candidate nearest the end wins. Fails with a reason.
[[nodiscard]] bool findEndRecord(ByteSource& archive, EndRecord& record, std::string& error);

}  // namespace kvxpack
