// The end-record search over arbitrary file tails, checked against a plain forward scan.
// Each input is searched as it is, and once more behind a filler that puts the start of
// the search window near the input's first bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/EmbeddedConfigText.h"

namespace {

const unsigned char SIGNATURE[4] = {0x50, 0x4B, 0x05, 0x06};

void check(bool condition) {
    if (!condition) std::abort();
}

// The last signature whose record starts inside the window and fits before the end.
bool lastRecord(const unsigned char* data, size_t size, size_t& record) {
    bool found = false;
    size_t window = static_cast<size_t>(kvx::CONFIG_SEARCH_WINDOW);
    size_t start = size > window ? size - window : 0;
    for (size_t p = start; p + kvx::EOCD_RECORD_SIZE <= size; ++p) {
        if (std::memcmp(data + p, SIGNATURE, 4) == 0) {
            record = p;
            found = true;
        }
    }
    return found;
}

void search(const unsigned char* data, size_t size) {
    kvx::AppString text = kvx::findEmbeddedConfig(data, size);
    check(text.c_str()[text.length()] == '\0');
    size_t record = 0;
    if (!lastRecord(data, size, record)) {
        check(text.length() == 0);
        return;
    }
    size_t expected = size - record - kvx::EOCD_RECORD_SIZE;
    check(expected <= static_cast<size_t>(kvx::CONFIG_TEXT_LIMIT));
    check(static_cast<size_t>(text.length()) == expected);
    check(std::memcmp(data + record + kvx::EOCD_RECORD_SIZE, text.c_str(), expected) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    search(data, size);
    if (size < 2) return 0;
    // Filler so that the window starts 0 to 15 bytes into the whole, with a signature
    // planted near that start.
    size_t window = static_cast<size_t>(kvx::CONFIG_SEARCH_WINDOW);
    size_t total = window + data[0] % 16;
    if (size > total) return 0;
    std::vector<unsigned char> whole(total - size, 'x');
    size_t planted = data[1] % 32;
    if (planted + 4 <= whole.size()) std::memcpy(whole.data() + planted, SIGNATURE, 4);
    whole.insert(whole.end(), data, data + size);
    search(whole.data(), whole.size());
    return 0;
}
