#include "ico/IconFile.h"

#include <cstring>

namespace kvxpack {

namespace {
constexpr std::size_t HEADER_SIZE = 6;
constexpr std::size_t ENTRY_SIZE = 16;
constexpr std::size_t GROUP_ENTRY_SIZE = 14;
constexpr std::size_t DIB_HEADER_MIN = 40;
constexpr unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
}  // namespace

bool parseIcon(const unsigned char* bytes, std::size_t size, std::vector<IconImage>& images, std::string& error) {
    images.clear();
    if (size < HEADER_SIZE || le16(bytes) != 0 || le16(bytes + 2) != 1) {
        error = size >= HEADER_SIZE && le16(bytes) == 0 && le16(bytes + 2) == 2 ? "a cursor, not an icon"
                                                                              : "not an icon file";
        return false;
    }
    const std::size_t count = le16(bytes + 4);
    if (count == 0) {
        error = "icon file holds no images";
        return false;
    }
    if (!fits(HEADER_SIZE, count * ENTRY_SIZE, size)) {
        error = "icon file cut off in its directory";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = bytes + HEADER_SIZE + i * ENTRY_SIZE;
        const std::uint32_t length = le32(entry + 8);
        const std::uint32_t offset = le32(entry + 12);
        if (length == 0 || offset < HEADER_SIZE + count * ENTRY_SIZE || !fits(offset, length, size)) {
            error = "icon image " + std::to_string(i + 1) + " lies outside the file (cut off?)";
            return false;
        }
        IconImage image;
        image.width = entry[0];
        image.height = entry[1];
        image.colorCount = entry[2];
        image.planes = le16(entry + 4);
        image.bitCount = le16(entry + 6);
        const unsigned char* data = bytes + offset;
        image.png = length >= sizeof PNG_SIGNATURE && std::memcmp(data, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
        if (!image.png && (length < DIB_HEADER_MIN || le32(data) < DIB_HEADER_MIN || le32(data) > length)) {
            error = "icon image " + std::to_string(i + 1) + " is neither PNG nor a bitmap";
            return false;
        }
        image.data.assign(data, data + length);
        images.push_back(std::move(image));
    }
    return true;
}

Bytes iconGroupResource(const std::vector<IconImage>& images, std::uint16_t firstId) {
    Bytes group;
    append16(group, 0);
    append16(group, 1);
    append16(group, static_cast<std::uint32_t>(images.size()));
    std::uint32_t id = firstId;
    for (const IconImage& image : images) {
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colorCount);
        group.push_back(0);
        append16(group, image.planes);
        append16(group, image.bitCount);
        append32(group, static_cast<std::uint32_t>(image.data.size()));
        append16(group, id++);
    }
    return group;
}

std::vector<std::uint16_t> iconGroupIds(const Bytes& group) {
    std::vector<std::uint16_t> ids;
    if (group.size() < HEADER_SIZE) return ids;
    const std::size_t count = le16(group.data() + 4);
    for (std::size_t i = 0; i < count && fits(HEADER_SIZE + i * GROUP_ENTRY_SIZE, GROUP_ENTRY_SIZE, group.size()); ++i) {
        ids.push_back(le16(group.data() + HEADER_SIZE + i * GROUP_ENTRY_SIZE + 12));
    }
    return ids;
}

}  // namespace kvxpack
