#include "zip/ArchiveWriter.h"

#include <algorithm>

namespace kvxpack {

namespace {

// Small writes gather here; entry data larger than this goes straight to the file.
constexpr std::size_t WRITE_BUFFER_SIZE = 1u << 16;
constexpr std::size_t COPY_BUFFER_SIZE = 1u << 20;
constexpr std::uint16_t ZIP64_VERSION = 45;

void append16(std::string& out, std::uint16_t value) {
    unsigned char bytes[2];
    writeLe16(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 2);
}
void append32(std::string& out, std::uint32_t value) {
    unsigned char bytes[4];
    writeLe32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}
void append64(std::string& out, std::uint64_t value) {
    unsigned char bytes[8];
    writeLe64(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 8);
}

std::uint32_t field32(std::uint64_t value) {
    return value >= ZIP32_LIMIT ? ZIP32_LIMIT : static_cast<std::uint32_t>(value);
}

std::uint16_t versionFor(std::uint16_t version, bool zip64) {
    return zip64 && version < ZIP64_VERSION ? ZIP64_VERSION : version;
}

// The header fields both header kinds share: version needed to extract ... name length.
// A local header with a Zip64 field defers both sizes to it, whichever needs it.
void appendCommonFields(std::string& out, const ZipEntry& entry, bool zip64, bool bothSizesDeferred) {
    append16(out, versionFor(entry.versionNeeded, zip64));
    append16(out, static_cast<std::uint16_t>(entry.flags & ~DESCRIPTOR_FLAG));
    append16(out, entry.method);
    append16(out, FIXED_DOS_TIME);
    append16(out, FIXED_DOS_DATE);
    append32(out, entry.crc);
    append32(out, bothSizesDeferred ? ZIP32_LIMIT : field32(entry.compressedSize));
    append32(out, bothSizesDeferred ? ZIP32_LIMIT : field32(entry.size));
    append16(out, static_cast<std::uint16_t>(entry.name.size()));
}

}  // namespace

ArchiveWriter::ArchiveWriter(ByteSink& out, std::uint64_t base) : out_(out), base_(base), position_(base) {
    buffer_.reserve(WRITE_BUFFER_SIZE);
}

bool ArchiveWriter::put(const void* data, std::size_t length, std::string& error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (buffer_.size() + length > WRITE_BUFFER_SIZE && !flush(error)) return false;
    if (length >= WRITE_BUFFER_SIZE) {
        if (!out_.write(bytes, length)) {
            error = "write failed: " + out_.lastError();
            return false;
        }
    } else {
        buffer_.insert(buffer_.end(), bytes, bytes + length);
    }
    position_ += length;
    return true;
}

bool ArchiveWriter::flush(std::string& error) {
    if (buffer_.empty()) return true;
    if (!out_.write(buffer_.data(), buffer_.size())) {
        error = "write failed: " + out_.lastError();
        return false;
    }
    buffer_.clear();
    return true;
}

bool ArchiveWriter::add(const ZipEntry& entry, ByteSource& source, std::string& error) {
    // Names and extras longer than 65535 bytes cannot come from a central directory.
    const bool zip64 = entry.size >= ZIP32_LIMIT || entry.compressedSize >= ZIP32_LIMIT;
    std::string extra = entry.extra;
    if (zip64) {
        append16(extra, ZIP64_EXTRA_ID);
        append16(extra, 16);
        append64(extra, entry.size);
        append64(extra, entry.compressedSize);
    }
    if (extra.size() > ZIP16_LIMIT) {
        error = "entry '" + entry.name + "' has too many extra fields";
        return false;
    }
    std::string header;
    append32(header, LOCAL_SIGNATURE);
    appendCommonFields(header, entry, zip64, zip64);
    append16(header, static_cast<std::uint16_t>(extra.size()));
    header += entry.name;
    header += extra;
    written_.push_back({&entry, position_ - base_});
    if (!put(header.data(), header.size(), error)) return false;

    if (const unsigned char* bytes = source.bytes()) {
        return put(bytes + entry.dataOffset, static_cast<std::size_t>(entry.compressedSize), error);
    }
    if (copyBuffer_.empty()) copyBuffer_.resize(COPY_BUFFER_SIZE);
    kvx::platform::File* file = source.file();
    if (entry.compressedSize < WRITE_BUFFER_SIZE || !file) {
        // Small entries gather with their headers in the write buffer.
        for (std::uint64_t done = 0; done < entry.compressedSize;) {
            const std::size_t chunk = static_cast<std::size_t>(
                std::min<std::uint64_t>(entry.compressedSize - done, copyBuffer_.size()));
            if (!source.readAt(entry.dataOffset + done, copyBuffer_.data(), chunk)) {
                error = "read failed: " + source.lastError();
                return false;
            }
            if (!put(copyBuffer_.data(), chunk, error)) return false;
            done += chunk;
        }
        return true;
    }
    if (!flush(error)) return false;
    if (!out_.appendFrom(*file, entry.dataOffset, entry.compressedSize, copyBuffer_.data(), copyBuffer_.size())) {
        error = !file->lastError().empty() ? "read failed: " + file->lastError() : "write failed: " + out_.lastError();
        return false;
    }
    position_ += entry.compressedSize;
    return true;
}

bool ArchiveWriter::finishDirectory(EndRecord& record, std::string& error) {
    const std::uint64_t directoryAt = position_;
    const std::uint64_t directoryStart = directoryAt - base_;  // as recorded: within the archive
    for (const Written& written : written_) {
        const ZipEntry& entry = *written.entry;
        std::string zip64;
        if (entry.size >= ZIP32_LIMIT) append64(zip64, entry.size);
        if (entry.compressedSize >= ZIP32_LIMIT) append64(zip64, entry.compressedSize);
        if (written.localOffset >= ZIP32_LIMIT) append64(zip64, written.localOffset);
        std::string extra = entry.extra;
        if (!zip64.empty()) {
            append16(extra, ZIP64_EXTRA_ID);
            append16(extra, static_cast<std::uint16_t>(zip64.size()));
            extra += zip64;
        }
        std::string header;
        append32(header, CENTRAL_SIGNATURE);
        // The high byte names the system that made the entry; only the version may rise.
        const std::uint16_t madeBy = static_cast<std::uint16_t>(
            (entry.versionMadeBy & 0xFF00) | versionFor(entry.versionMadeBy & 0xFF, !zip64.empty()));
        append16(header, madeBy);
        appendCommonFields(header, entry, !zip64.empty(), false);
        append16(header, static_cast<std::uint16_t>(extra.size()));
        append16(header, static_cast<std::uint16_t>(entry.comment.size()));
        append16(header, 0);  // disk
        append16(header, entry.internalAttributes);
        append32(header, entry.externalAttributes);
        append32(header, field32(written.localOffset));
        header += entry.name;
        header += extra;
        header += entry.comment;
        if (!put(header.data(), header.size(), error)) return false;
    }
    const std::uint64_t directorySize = position_ - directoryAt;
    const std::uint64_t count = written_.size();
    const bool zip64 = count >= ZIP16_LIMIT || directorySize >= ZIP32_LIMIT || directoryStart >= ZIP32_LIMIT;
    record = EndRecord{};
    if (zip64) {
        const std::uint64_t zip64End = position_;
        std::string tail;
        append32(tail, ZIP64_END_SIGNATURE);
        append64(tail, ZIP64_END_FIXED_SIZE - 12);
        append16(tail, ZIP64_VERSION);
        append16(tail, ZIP64_VERSION);
        append32(tail, 0);
        append32(tail, 0);
        append64(tail, count);
        append64(tail, count);
        append64(tail, directorySize);
        append64(tail, directoryStart);
        append32(tail, ZIP64_LOCATOR_SIGNATURE);
        append32(tail, 0);
        append64(tail, zip64End);  // a position in the file: Java's reader takes it so (others look just before)
        append32(tail, 1);
        if (!put(tail.data(), tail.size(), error)) return false;
        record.zip64 = true;
        record.zip64EndOffset = zip64End;
    }
    unsigned char* bytes = record.bytes.data();
    writeLe32(bytes, END_SIGNATURE);
    writeLe16(bytes + 4, 0);
    writeLe16(bytes + 6, 0);
    const std::uint16_t count16 = count >= ZIP16_LIMIT ? ZIP16_LIMIT : static_cast<std::uint16_t>(count);
    writeLe16(bytes + 8, count16);
    writeLe16(bytes + 10, count16);
    writeLe32(bytes + 12, field32(directorySize));
    writeLe32(bytes + 16, field32(directoryStart));
    writeLe16(bytes + END_COMMENT_LENGTH_AT, 0);
    record.offset = position_;
    record.entryCount = count;
    record.directoryStart = directoryAt;
    record.directorySize = directorySize;
    record.prefix = base_;
    return true;
}

bool ArchiveWriter::writeTail(const std::string& bytes, std::string& error) {
    return put(bytes.data(), bytes.size(), error) && flush(error);
}

}  // namespace kvxpack
