#pragma once
// BitmapFile: a .bmp file turned into a bitmap resource (the file without its 14-byte file
// header, with the pixels right behind the colour table as the resource loader expects).

#include <string>

#include "pe/Bytes.h"

namespace kvxpack {

struct BitmapInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows stored top-down
    std::uint16_t bitCount = 0;
};

// Checks the file and gives the resource bytes; fails with a reason when it is not a BMP the
// system can show.
[[nodiscard]] bool bitmapResource(const unsigned char* bytes, std::size_t size, Bytes& resource, BitmapInfo& info,
                                  std::string& error);

// Reads the size of a bitmap resource (for --inspect); false when it is malformed.
[[nodiscard]] bool bitmapResourceInfo(const Bytes& resource, BitmapInfo& info);

}  // namespace kvxpack
