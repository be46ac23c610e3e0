#include "ico/BitmapFile.h"

#include <cstdint>

namespace kvxpack {

namespace {

constexpr std::size_t FILE_HEADER_SIZE = 14;
constexpr std::uint32_t CORE_HEADER_SIZE = 12;
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint64_t MAX_PIXEL_BYTES = 256u << 20;

// Reads the header at `dib` (`available` bytes) and says where the pixels start relative to
// it when packed, and how many bytes they take.
bool readHeader(const unsigned char* dib, std::size_t available, BitmapInfo& info, std::uint64_t& tableEnd,
                std::uint64_t& pixelBytes, std::string& error) {
    if (available < 4) {
        error = "bitmap header cut off";
        return false;
    }
    const std::uint32_t headerSize = le32(dib);
    if (headerSize != CORE_HEADER_SIZE && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124) {
        error = "unknown bitmap header size " + std::to_string(headerSize);
        return false;
    }
    if (available < headerSize) {
        error = "bitmap header cut off";
        return false;
    }
    std::uint16_t planes = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t sizeImage = 0;
    std::uint64_t colors = 0;
    std::uint64_t entrySize = 4;
    std::uint64_t masks = 0;
    if (headerSize == CORE_HEADER_SIZE) {
        info.width = le16(dib + 4);
        info.height = le16(dib + 6);
        planes = le16(dib + 8);
        info.bitCount = le16(dib + 10);
        entrySize = 3;
    } else {
        info.width = static_cast<std::int32_t>(le32(dib + 4));
        info.height = static_cast<std::int32_t>(le32(dib + 8));
        planes = le16(dib + 12);
        info.bitCount = le16(dib + 14);
        compression = le32(dib + 16);
        sizeImage = le32(dib + 20);
        colors = le32(dib + 32);
        if (headerSize == 40 && compression == BI_BITFIELDS) masks = 12;
    }
    const std::uint16_t bits = info.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        error = "bitmap with " + std::to_string(bits) + " bits per pixel";
        return false;
    }
    if (planes != 1 || info.width <= 0 || info.height == 0 || info.height == INT32_MIN) {
        error = "bitmap with an impossible size or plane count";
        return false;
    }
    if (compression > BI_BITFIELDS || (compression == BI_RLE8 && bits != 8) || (compression == BI_RLE4 && bits != 4) ||
        (compression == BI_BITFIELDS && bits != 16 && bits != 32) ||
        ((compression == BI_RLE8 || compression == BI_RLE4) && info.height < 0)) {
        error = "bitmap compression the system cannot show (save it as an uncompressed BMP)";
        return false;
    }
    if (colors == 0 && bits <= 8) colors = 1u << bits;
    if (colors > 256) {
        error = "bitmap colour table larger than 256 entries";
        return false;
    }
    tableEnd = headerSize + masks + colors * entrySize;
    const std::uint64_t rows = static_cast<std::uint64_t>(info.height < 0 ? -std::int64_t(info.height) : info.height);
    const std::uint64_t stride = (static_cast<std::uint64_t>(info.width) * bits + 31) / 32 * 4;
    pixelBytes = compression == BI_RLE8 || compression == BI_RLE4 ? sizeImage : stride * rows;
    if (pixelBytes == 0 || pixelBytes > MAX_PIXEL_BYTES || rows > MAX_PIXEL_BYTES) {
        error = "bitmap pixel data missing or larger than 256 MiB";
        return false;
    }
    return true;
}

}  // namespace

bool bitmapResource(const unsigned char* bytes, std::size_t size, Bytes& resource, BitmapInfo& info,
                    std::string& error) {
    if (size < FILE_HEADER_SIZE || bytes[0] != 'B' || bytes[1] != 'M') {
        error = size >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G'
                    ? "a PNG picture; kvxpack takes BMP files only (convert it, e.g. convert in.png BMP3:out.bmp)"
                    : "not a BMP file";
        return false;
    }
    const std::uint32_t pixelsAt = le32(bytes + 10);
    std::uint64_t tableEnd = 0;
    std::uint64_t pixelBytes = 0;
    if (!readHeader(bytes + FILE_HEADER_SIZE, size - FILE_HEADER_SIZE, info, tableEnd, pixelBytes, error)) return false;
    if (FILE_HEADER_SIZE + tableEnd > pixelsAt) {
        error = "BMP pixel data overlaps its colour table";
        return false;
    }
    if (!fits(pixelsAt, pixelBytes, size)) {
        error = "BMP file cut off in its pixel data";
        return false;
    }
    // The loader finds the pixels right after the colour table: a gap in the file is dropped.
    resource.assign(bytes + FILE_HEADER_SIZE, bytes + FILE_HEADER_SIZE + tableEnd);
    const unsigned char* pixels = bytes + pixelsAt;
    if (info.height < 0) {
        // The system's bitmap loader turns a top-down bitmap resource into a black picture:
        // the rows (never compressed here) are stored bottom-up under a positive height.
        const std::uint64_t rows = static_cast<std::uint64_t>(-std::int64_t(info.height));
        const std::uint64_t stride = pixelBytes / rows;
        for (std::uint64_t row = rows; row-- > 0;) {
            resource.insert(resource.end(), pixels + row * stride, pixels + (row + 1) * stride);
        }
        info.height = -info.height;
        put32(resource.data() + 8, static_cast<std::uint32_t>(info.height));
    } else {
        resource.insert(resource.end(), pixels, pixels + pixelBytes);
    }
    return true;
}

bool bitmapResourceInfo(const Bytes& resource, BitmapInfo& info) {
    std::uint64_t tableEnd = 0;
    std::uint64_t pixelBytes = 0;
    std::string ignored;
    return readHeader(resource.data(), resource.size(), info, tableEnd, pixelBytes, ignored) &&
           fits(tableEnd, pixelBytes, resource.size());
}

}  // namespace kvxpack
