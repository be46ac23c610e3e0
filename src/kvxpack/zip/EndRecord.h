#pragma once
// EndRecord: the end-of-central-directory record of a ZIP archive, found and checked.

#include <array>
#include <cstdint>
#include <string>

#include "os/File.h"
#include "zip/ZipFormat.h"

namespace kvxpack {

struct EndRecord {
    std::uint64_t offset = 0;                        // first byte of the record in the file
    std::array<unsigned char, END_RECORD_SIZE> bytes{};  // the record as found, comment length included
    bool zip64 = false;                              // a Zip64 locator stands right before it
    std::uint64_t zip64EndOffset = 0;                // where the Zip64 end record starts in the file
    std::array<unsigned char, ZIP64_LOCATOR_SIZE> locator{};  // the Zip64 locator as found
};

// Finds the record that really ends the archive. Its signature may also occur inside the
// archive's comment or data, so a candidate counts only when its comment runs exactly to the
// end of the file and its central directory is where it says (with the usual signature). The
// candidate nearest the end wins. Fails with a reason in `error`.
[[nodiscard]] bool findEndRecord(File& archive, std::uint64_t archiveSize, EndRecord& record, std::string& error);

// The Zip64 locator to write when `shift` bytes go in front of the archive. Java's zip reader
// takes the locator's offset of the Zip64 end record as a position in the file, not in the
// archive, so it must count the bytes in front too (other readers look right before the locator).
std::array<unsigned char, ZIP64_LOCATOR_SIZE> shiftedLocator(const EndRecord& record, std::uint64_t shift);

}  // namespace kvxpack
