#include "ico/SplashPicture.h"

#include <zlib.h>

#include <cstdint>

#include "ico/BitmapFile.h"

namespace kvxpack {

namespace {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;

void putBig32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void chunk(std::string& png, const char* type, const std::string& data) {
    putBig32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.append(type, 4);
    png += data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + start), static_cast<uInt>(png.size() - start));
    putBig32(png, static_cast<std::uint32_t>(crc));
}

// The masks' lowest set bit and width, to scale a channel to 8 bits.
void maskShape(std::uint32_t mask, int& shift, int& bits) {
    shift = 0;
    bits = 0;
    if (!mask) return;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
}

unsigned char channel(std::uint32_t pixel, std::uint32_t mask) {
    int shift = 0;
    int bits = 0;
    maskShape(mask, shift, bits);
    if (!bits) return 0;
    const std::uint32_t value = (pixel & mask) >> shift;
    return static_cast<unsigned char>(value * 255 / ((1u << bits) - 1));
}

}  // namespace

bool splashPng(const unsigned char* bytes, std::size_t size, std::string& png, std::string& error) {
    // The resource form: header, colour table and bottom-up rows right behind each other.
    Bytes dib;
    BitmapInfo info;
    if (!bitmapResource(bytes, size, dib, info, error)) return false;
    const std::uint32_t headerSize = le32(dib.data());
    const bool core = headerSize == 12;
    const std::uint32_t compression = core ? BI_RGB : le32(dib.data() + 16);
    if (compression != BI_RGB && compression != BI_BITFIELDS) {
        error = "the Linux splash needs an uncompressed BMP";
        return false;
    }
    const int bits = info.bitCount;
    std::uint32_t colors = core ? 0 : le32(dib.data() + 32);
    if (colors == 0 && bits <= 8) colors = 1u << bits;
    const std::size_t entrySize = core ? 3 : 4;
    std::uint32_t red = 0x7C00, green = 0x03E0, blue = 0x001F;  // 16 bits: 5-5-5
    if (bits == 32) red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF;
    std::size_t masksSize = 0;
    if (compression == BI_BITFIELDS) {
        // After a 40-byte header the three masks follow it; larger headers hold them.
        red = le32(dib.data() + 40);
        green = le32(dib.data() + 44);
        blue = le32(dib.data() + 48);
        if (headerSize == 40) masksSize = 12;
    }
    const unsigned char* table = dib.data() + headerSize + masksSize;
    const unsigned char* pixels = table + (bits <= 8 ? colors * entrySize : 0);
    const std::size_t width = static_cast<std::size_t>(info.width);
    const std::size_t height = static_cast<std::size_t>(info.height);
    const std::size_t stride = (width * bits + 31) / 32 * 4;

    std::string raw;
    raw.reserve(height * (1 + width * 3));
    for (std::size_t y = 0; y < height; ++y) {
        const unsigned char* row = pixels + (height - 1 - y) * stride;
        raw.push_back(0);  // no filter
        for (std::size_t x = 0; x < width; ++x) {
            unsigned char rgb[3] = {0, 0, 0};
            if (bits <= 8) {
                const std::size_t bit = x * bits;
                const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index < colors) {
                    const unsigned char* entry = table + index * entrySize;
                    rgb[0] = entry[2], rgb[1] = entry[1], rgb[2] = entry[0];
                }
            } else if (bits == 24) {
                rgb[0] = row[x * 3 + 2], rgb[1] = row[x * 3 + 1], rgb[2] = row[x * 3];
            } else {
                const std::uint32_t pixel = bits == 16 ? le16(row + x * 2) : le32(row + x * 4);
                rgb[0] = channel(pixel, red), rgb[1] = channel(pixel, green), rgb[2] = channel(pixel, blue);
            }
            raw.append(reinterpret_cast<const char*>(rgb), 3);
        }
    }

    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
        error = "the splash picture cannot be compressed";
        return false;
    }
    packed.resize(packedSize);
    std::string header;
    putBig32(header, static_cast<std::uint32_t>(width));
    putBig32(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter kinds, no interlace
    png.assign("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", std::string());
    return true;
}

}  // namespace kvxpack
