#include "config/EmbeddedConfigText.h"

#include <cstring>

#include "platform/FileSystem.h"
#include "platform/MappedFile.h"

namespace kvx {

namespace {

// "PK" 5 6: the end-of-central-directory record's signature.
constexpr unsigned char EOCD_SIGNATURE[4] = {0x50, 0x4B, 0x05, 0x06};

}  // namespace

AppString findEmbeddedConfig(const unsigned char* bytes, uint64_t size) {
    AppString text;
    if (!bytes || size < static_cast<uint64_t>(EOCD_RECORD_SIZE)) return text;
    uint64_t windowStart = size > static_cast<uint64_t>(CONFIG_SEARCH_WINDOW) ? size - CONFIG_SEARCH_WINDOW : 0;
    // The record nearest the end wins: a record's comment may itself hold the signature's
    // bytes, and only the last record of the file is the archive's own.
    for (uint64_t p = size - EOCD_RECORD_SIZE;; --p) {
        if (bytes[p] == EOCD_SIGNATURE[0] && std::memcmp(bytes + p, EOCD_SIGNATURE, sizeof EOCD_SIGNATURE) == 0) {
            // At most CONFIG_TEXT_LIMIT bytes, so the count fits.
            int32_t length = static_cast<int32_t>(size - p - EOCD_RECORD_SIZE);
            text.setLength(0);
            text.append(reinterpret_cast<const char*>(bytes + p + EOCD_RECORD_SIZE), length);
            return text;
        }
        if (p == windowStart) break;
    }
    return text;
}

// The executable is opened by the path the system holds (never truncated, and on Windows
// wide), so an executable in a long or non-ANSI directory still finds its configuration.
EmbeddedConfigText::EmbeddedConfigText() {
    platform::MappedFile file;
    if (!file.openModuleTail(static_cast<uint64_t>(CONFIG_SEARCH_WINDOW))) return;
    AppString::operator=(findEmbeddedConfig(file.data(), file.size()));
}

EmbeddedConfigText::EmbeddedConfigText(const char* path) {
    if (!path || !*path) return;
    // Only the tail is mapped: the cost is the same for a 1 MiB and a 2 GiB archive, and
    // the file's full 64-bit size is used, so files past 4 GiB are read correctly too.
    platform::MappedFile file;
    if (!file.openTail(path, static_cast<uint64_t>(CONFIG_SEARCH_WINDOW))) return;
    AppString::operator=(findEmbeddedConfig(file.data(), file.size()));
    // `file` unmaps the view and closes both handles here.
}

}  // namespace kvx
