#include "zip/CentralDirectory.h"

#include <algorithm>

namespace kvxpack {

namespace {

// Extra fields that carry time stamps (extended time stamp, NTFS, old Info-ZIP Unix) go, so
// the output does not depend on when the input was built; Zip64 sizes are written afresh.
bool droppedExtra(std::uint16_t id) { return id == ZIP64_EXTRA_ID || id == 0x5455 || id == 0x000A || id == 0x5855; }

// Reads the directory in pieces of this size, so a large one costs no large buffer.
constexpr std::size_t DIRECTORY_CHUNK = 1u << 16;

class DirectoryReader {
public:
    DirectoryReader(ByteSource& archive, std::uint64_t start, std::uint64_t size)
        : archive_(archive), position_(start), end_(start + size) {}

    // Makes the next `length` bytes available at data(); false when the directory ends first.
    bool take(std::size_t length, const unsigned char*& data) {
        if (end_ - position_ < length) return false;
        if (length > buffer_.size() - used_ || buffer_.empty()) {
            // Keep what was not consumed yet, read on from there.
            const std::uint64_t available = end_ - position_;
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(available, std::max<std::size_t>(length, DIRECTORY_CHUNK)));
            buffer_.resize(want);
            if (!archive_.readAt(position_, buffer_.data(), want)) {
                readFailed_ = true;
                return false;
            }
            used_ = 0;
        }
        data = buffer_.data() + used_;
        used_ += length;
        position_ += length;
        return true;
    }
    bool readFailed() const { return readFailed_; }
    std::uint64_t position() const { return position_; }

private:
    ByteSource& archive_;
    std::uint64_t position_;
    std::uint64_t end_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
    bool readFailed_ = false;
};

// Replaces the 0xFFFFFFFF fields with the values of the Zip64 extra field, in its fixed
// order: size, compressed size, local header offset (only those that defer to it).
bool applyZip64(const std::string& extra, ZipEntry& entry, std::uint64_t& localOffset, bool needSize,
                bool needCompressed, bool needOffset) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto* field = reinterpret_cast<const unsigned char*>(extra.data() + at);
        const std::uint16_t id = readLe16(field);
        const std::uint16_t length = readLe16(field + 2);
        if (at + 4 + length > extra.size()) return false;
        if (id == ZIP64_EXTRA_ID) {
            std::size_t need = (needSize ? 8 : 0) + (needCompressed ? 8 : 0) + (needOffset ? 8 : 0);
            if (length < need) return false;
            const unsigned char* value = field + 4;
            if (needSize) entry.size = readLe64(value), value += 8;
            if (needCompressed) entry.compressedSize = readLe64(value), value += 8;
            if (needOffset) localOffset = readLe64(value);
            return true;
        }
        at += 4 + length;
    }
    return !needSize && !needCompressed && !needOffset;
}

}  // namespace

bool filterExtraFields(const std::string& extra, std::string& kept) {
    kept.clear();
    std::size_t at = 0;
    while (at < extra.size()) {
        if (extra.size() - at < 4) return false;
        const auto* field = reinterpret_cast<const unsigned char*>(extra.data() + at);
        const std::size_t length = readLe16(field + 2);
        if (extra.size() - at - 4 < length) return false;
        if (!droppedExtra(readLe16(field))) kept.append(extra, at, 4 + length);
        at += 4 + length;
    }
    return true;
}

bool readCentralDirectory(ByteSource& archive, const EndRecord& record, std::vector<ZipEntry>& entries,
                          std::string& error) {
    entries.clear();
    DirectoryReader reader(archive, record.directoryStart, record.directorySize);
    // The entry count is checked against the directory's size, so this reservation is bounded.
    entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(record.entryCount, 1u << 16)));
    for (std::uint64_t index = 0; index < record.entryCount; ++index) {
        const std::string where = "central directory entry " + std::to_string(index + 1);
        const unsigned char* header = nullptr;
        if (!reader.take(CENTRAL_HEADER_MIN_SIZE, header)) {
            error = reader.readFailed() ? archive.lastError() : where + " runs past the directory's end";
            return false;
        }
        if (readLe32(header) != CENTRAL_SIGNATURE) {
            error = where + " has no central header signature";
            return false;
        }
        ZipEntry entry;
        entry.versionMadeBy = readLe16(header + 4);
        entry.versionNeeded = readLe16(header + 6);
        entry.flags = readLe16(header + 8);
        entry.method = readLe16(header + 10);
        entry.crc = readLe32(header + 16);
        entry.compressedSize = readLe32(header + 20);
        entry.size = readLe32(header + 24);
        const std::uint16_t nameLength = readLe16(header + 28);
        const std::uint16_t extraLength = readLe16(header + 30);
        const std::uint16_t commentLength = readLe16(header + 32);
        const std::uint16_t disk = readLe16(header + 34);
        entry.internalAttributes = readLe16(header + 36);
        entry.externalAttributes = readLe32(header + 38);
        std::uint64_t localOffset = readLe32(header + 42);
        const unsigned char* rest = nullptr;
        if (!reader.take(static_cast<std::size_t>(nameLength) + extraLength + commentLength, rest)) {
            error = reader.readFailed() ? archive.lastError() : where + " runs past the directory's end";
            return false;
        }
        entry.name.assign(reinterpret_cast<const char*>(rest), nameLength);
        const std::string extra(reinterpret_cast<const char*>(rest + nameLength), extraLength);
        entry.comment.assign(reinterpret_cast<const char*>(rest + nameLength + extraLength), commentLength);
        const std::string named = "entry '" + entry.name + "'";
        if (entry.name.empty()) {
            error = where + " has no name";
            return false;
        }
        if (disk != 0 && disk != ZIP16_LIMIT) {
            error = named + " lies on another disk of a split archive";
            return false;
        }
        if (entry.flags & ENCRYPTION_FLAGS) {
            error = named + " is encrypted";
            return false;
        }
        if (!applyZip64(extra, entry, localOffset, entry.size == ZIP32_LIMIT, entry.compressedSize == ZIP32_LIMIT,
                        localOffset == ZIP32_LIMIT) ||
            !filterExtraFields(extra, entry.extra)) {
            error = named + " has a malformed extra field";
            return false;
        }
        // The local header: where the data begins, and proof that the offsets are right.
        if (localOffset > record.directoryStart || record.directoryStart - localOffset < record.prefix ||
            record.directoryStart - localOffset - record.prefix < LOCAL_HEADER_MIN_SIZE) {
            error = named + " has its local header outside the archive";
            return false;
        }
        const std::uint64_t localAt = localOffset + record.prefix;
        unsigned char local[LOCAL_HEADER_MIN_SIZE];
        if (!archive.readAt(localAt, local, sizeof local)) {
            error = archive.lastError();
            return false;
        }
        if (readLe32(local) != LOCAL_SIGNATURE) {
            error = named + ": no local header at offset " + std::to_string(localAt) +
                    " (the central directory's offsets do not match the file)";
            return false;
        }
        entry.dataOffset = localAt + LOCAL_HEADER_MIN_SIZE + readLe16(local + 26) + readLe16(local + 28);
        if (entry.dataOffset > record.directoryStart ||
            record.directoryStart - entry.dataOffset < entry.compressedSize) {
            error = named + "'s data runs into the central directory";
            return false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

}  // namespace kvxpack
