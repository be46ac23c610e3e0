#pragma once
// IconFile: the images of a .ico file, and the two resource forms Windows keeps them in
// (one RT_ICON per image, one RT_GROUP_ICON directory naming them).

#include <cstdint>
#include <string>
#include <vector>

#include "pe/Bytes.h"

namespace kvxpack {

struct IconImage {
    // The directory entry's first twelve bytes as the file has them (width and height 0 mean 256).
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    bool png = false;
    Bytes data;  // the image: a PNG stream or a DIB without file header
};

// Reads a .ico file; fails with a reason when it is cut off or not an icon.
[[nodiscard]] bool parseIcon(const unsigned char* bytes, std::size_t size, std::vector<IconImage>& images,
                             std::string& error);

// The group directory resource for `images`, whose RT_ICON resources get ids firstId, firstId + 1, ...
Bytes iconGroupResource(const std::vector<IconImage>& images, std::uint16_t firstId);

// The ids of the RT_ICON resources a group directory names (for replacing a group whole).
std::vector<std::uint16_t> iconGroupIds(const Bytes& group);

}  // namespace kvxpack
