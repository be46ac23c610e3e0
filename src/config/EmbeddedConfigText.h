#pragma once
// EmbeddedConfigText: the configuration text stored as the comment of the ZIP archive's
// end-of-central-directory record at the very end of the running executable.

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

constexpr int32_t EOCD_RECORD_SIZE = 22;
constexpr int32_t CONFIG_TEXT_LIMIT = 51200;
constexpr int32_t CONFIG_SEARCH_WINDOW = EOCD_RECORD_SIZE + CONFIG_TEXT_LIMIT;

// The configuration text in the last CONFIG_SEARCH_WINDOW bytes of `bytes` (the file's
// tail): the bytes after the end record nearest the end. Empty when there is none.
AppString findEmbeddedConfig(const unsigned char* bytes, uint64_t size);

class EmbeddedConfigText : public AppString {
public:
    // Reads the running executable's text; empty when there is none. Nothing stays open.
    EmbeddedConfigText();
    // Reads the text of the file at `path` (tests and tools).
    explicit EmbeddedConfigText(const char* path);
};

}  // namespace kvx
