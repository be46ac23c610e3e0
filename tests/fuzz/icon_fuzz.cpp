// libFuzzer target: kvxpack's readers of .ico, .bmp, version records and manifests.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ico/BitmapFile.h"
#include "ico/IconFile.h"
#include "pe/Manifest.h"
#include "pe/VersionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    std::vector<kvxpack::IconImage> images;
    if (kvxpack::parseIcon(data, size, images, error)) {
        const kvxpack::Bytes group = kvxpack::iconGroupResource(images, 1);
        if (kvxpack::iconGroupIds(group).size() != images.size()) std::abort();
    }
    kvxpack::Bytes resource;
    kvxpack::BitmapInfo info;
    if (kvxpack::bitmapResource(data, size, resource, info, error)) {
        kvxpack::BitmapInfo again;
        if (!kvxpack::bitmapResourceInfo(resource, again) || again.width != info.width) std::abort();
    }
    const kvxpack::Bytes bytes(data, data + size);
    std::array<std::uint16_t, 4> numbers{};
    std::vector<kvxpack::VersionEntry> entries;
    (void)kvxpack::readVersionResource(bytes, numbers, entries);
    (void)kvxpack::checkManifest(std::string_view(reinterpret_cast<const char*>(data), size), error);
    std::u16string wide;
    if (kvxpack::utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size), wide) &&
        kvxpack::utf16ToUtf8(wide) != std::string_view(reinterpret_cast<const char*>(data), size)) {
        std::abort();
    }
    return 0;
}
