#pragma once
// ArchiveWriter: writes a ZIP archive entry by entry into the output's sink. Each entry's
// data is copied raw from its source; its local header and central directory entry are
// written afresh from the same values (fixed time stamp, sizes in the headers rather than in
// a data descriptor, Zip64 fields where a value needs them). Offsets count from the archive's
// first byte, as in a plain archive: readers take the stub for bytes in front. Java checks that
// the first local header stands where the directory's offset says, even after a signing tool
// appended a certificate table; file positions would fail that check.

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ByteSink.h"
#include "zip/ByteSource.h"
#include "zip/CentralDirectory.h"
#include "zip/EndRecord.h"

namespace kvxpack {

// Every entry gets this DOS time stamp (1980-01-01 00:00, the format's first day): the same
// inputs give the same bytes whenever and wherever they are packed.
constexpr std::uint16_t FIXED_DOS_TIME = 0;
constexpr std::uint16_t FIXED_DOS_DATE = (0 << 9) | (1 << 5) | 1;

class ArchiveWriter {
public:
    // `base`: how many bytes the output holds already (the stub).
    ArchiveWriter(ByteSink& out, std::uint64_t base);

    [[nodiscard]] bool add(const ZipEntry& entry, ByteSource& source, std::string& error);
    // Writes the central directory and, when a count, size or offset needs it, the Zip64 end
    // record and locator. `record` receives the end record to write after them (comment
    // length 0); nothing after the directory is written here.
    [[nodiscard]] bool finishDirectory(EndRecord& record, std::string& error);
    // Writes bytes through the same buffer (the end record and comment), then flushes.
    [[nodiscard]] bool writeTail(const std::string& bytes, std::string& error);

    std::uint64_t position() const { return position_; }

private:
    struct Written {
        const ZipEntry* entry;
        std::uint64_t localOffset;
    };
    bool put(const void* data, std::size_t length, std::string& error);
    bool flush(std::string& error);

    ByteSink& out_;
    std::uint64_t base_;
    std::uint64_t position_;
    std::vector<unsigned char> buffer_;
    std::vector<unsigned char> copyBuffer_;
    std::vector<Written> written_;
};

}  // namespace kvxpack
