#include "zip/EndRecord.h"

#include <algorithm>
#include <vector>

namespace kvxpack {

namespace {

bool signatureAt(ByteSource& archive, std::uint64_t offset, std::uint32_t signature) {
    unsigned char bytes[4];
    return offset <= archive.size() && archive.size() - offset >= 4 && archive.readAt(offset, bytes, sizeof bytes) &&
           readLe32(bytes) == signature;
}

// The central directory ends where `end` (the record after it) begins, and its recorded offset
// can only be smaller than its real position: bytes in front of the archive (a stub) shift it.
bool centralDirectoryFits(ByteSource& archive, std::uint64_t end, std::uint64_t entries, std::uint64_t size,
                          std::uint64_t offset, EndRecord& found) {
    if (size > end) return false;
    const std::uint64_t start = end - size;
    if (offset > start) return false;
    // An empty directory cannot be checked, so only a plain empty archive passes (a zeroed
    // record inside some comment would pass otherwise).
    if (entries == 0) {
        if (size != 0 || offset != start) return false;
    } else if (size / CENTRAL_HEADER_MIN_SIZE < entries || !signatureAt(archive, start, CENTRAL_SIGNATURE)) {
        return false;
    }
    found.entryCount = entries;
    found.directoryStart = start;
    found.directorySize = size;
    found.prefix = start - offset;
    return true;
}

bool zip64EndFits(ByteSource& archive, std::uint64_t at, std::uint64_t locatorAt, EndRecord& found) {
    if (at >= locatorAt || locatorAt - at < ZIP64_END_FIXED_SIZE) return false;
    unsigned char end64[ZIP64_END_FIXED_SIZE];
    if (!archive.readAt(at, end64, sizeof end64) || readLe32(end64) != ZIP64_END_SIGNATURE) return false;
    // The record's size field counts the bytes after itself; the locator must follow directly.
    if (readLe64(end64 + 4) != locatorAt - at - 12) return false;
    if (readLe32(end64 + 16) != 0 || readLe32(end64 + 20) != 0 || readLe64(end64 + 24) != readLe64(end64 + 32)) {
        return false;  // split archives are no jars
    }
    return centralDirectoryFits(archive, at, readLe64(end64 + 32), readLe64(end64 + 40), readLe64(end64 + 48), found);
}

bool findZip64End(ByteSource& archive, EndRecord& found) {
    const std::uint64_t locatorAt = found.offset - ZIP64_LOCATOR_SIZE;
    unsigned char locator[ZIP64_LOCATOR_SIZE];
    if (!archive.readAt(locatorAt, locator, sizeof locator)) return false;
    // The locator's offset counts from the archive's first byte: right for a plain archive.
    // With bytes in front, the record is found where it normally stands, just before the locator.
    const std::uint64_t recorded = readLe64(locator + 8);
    if (zip64EndFits(archive, recorded, locatorAt, found)) {
        found.zip64EndOffset = recorded;
        return true;
    }
    if (locatorAt >= ZIP64_END_FIXED_SIZE &&
        zip64EndFits(archive, locatorAt - ZIP64_END_FIXED_SIZE, locatorAt, found)) {
        found.zip64EndOffset = locatorAt - ZIP64_END_FIXED_SIZE;
        return true;
    }
    return false;
}

bool isEndRecord(ByteSource& archive, EndRecord& found) {
    const unsigned char* record = found.bytes.data();
    const std::uint64_t at = found.offset;
    const std::uint64_t end = at + END_RECORD_SIZE + readLe16(record + END_COMMENT_LENGTH_AT);
    if (end > archive.size()) return false;
    found.trailing = archive.size() - end;
    // The locator's signature could also be the tail of a name in the last directory entry:
    // only a Zip64 end record where the locator says makes it a Zip64 archive.
    found.zip64 = at >= ZIP64_LOCATOR_SIZE && signatureAt(archive, at - ZIP64_LOCATOR_SIZE, ZIP64_LOCATOR_SIGNATURE) &&
                  findZip64End(archive, found);
    if (!found.zip64) {
        const std::uint16_t disk = readLe16(record + 4);
        const std::uint16_t directoryDisk = readLe16(record + 6);
        const std::uint16_t entriesHere = readLe16(record + 8);
        const std::uint16_t entries = readLe16(record + 10);
        if (disk != 0 || directoryDisk != 0 || entriesHere != entries) return false;  // split archives are no jars
        if (!centralDirectoryFits(archive, at, entries, readLe32(record + 12), readLe32(record + 16), found)) {
            return false;
        }
    }
    if (found.trailing == 0) return true;
    // Bytes after the comment (padding, a copy cut short by a tool): Java and zip tools read
    // such an archive when its first entry's local header stands where the directory says.
    return found.entryCount > 0 && signatureAt(archive, found.prefix, LOCAL_SIGNATURE);
}

}  // namespace

bool findEndRecord(ByteSource& archive, EndRecord& record, std::string& error) {
    const std::uint64_t archiveSize = archive.size();
    if (archiveSize < END_RECORD_SIZE) {
        error = "too short to be a ZIP archive";
        return false;
    }
    // The record and its comment lie within this many bytes of the end (more with trailing bytes).
    const std::uint64_t tailSize = std::min<std::uint64_t>(archiveSize, END_RECORD_SIZE + MAX_END_COMMENT);
    const std::uint64_t tailStart = archiveSize - tailSize;
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
    if (!archive.readAt(tailStart, tail.data(), tail.size())) {
        error = archive.lastError();
        return false;
    }
    bool signatureSeen = false;
    for (std::size_t i = tail.size() - END_RECORD_SIZE;; --i) {
        if (readLe32(&tail[i]) == END_SIGNATURE) {
            signatureSeen = true;
            EndRecord candidate;
            candidate.offset = tailStart + i;
            std::copy_n(&tail[i], END_RECORD_SIZE, candidate.bytes.begin());
            if (isEndRecord(archive, candidate)) {
                record = candidate;
                return true;
            }
        }
        if (i == 0) break;
    }
    error = signatureSeen ? "not a ZIP archive (no end-of-central-directory record matches its central directory)"
                          : "not a ZIP archive (no end-of-central-directory record in its last 64 KiB)";
    return false;
}

}  // namespace kvxpack
