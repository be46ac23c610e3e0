// Linux has no resources: the string table of the resource script is compiled in, laid out
// block by block as Windows stores it, so the same lookup walk runs here.
#include "platform/Messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace kvx::platform {

namespace {

struct EmbeddedStringBlock {
    uint16_t language;
    uint16_t blockId;
    const uint16_t* units;
    uint32_t count;
};

#include "StringTable.inc"

constexpr uint16_t LANGUAGE_ENGLISH_US = 1033;
constexpr uint16_t LANGUAGE_CHINESE_TAIWAN = 1028;
constexpr uint16_t LANGUAGE_CHINESE_PRC = 2052;

// True when the locale name is `language_TERRITORY`, alone or followed by .codeset or @modifier.
bool localeIs(const char* locale, const char* name) {
    size_t n = std::strlen(name);
    return std::strncmp(locale, name, n) == 0 && (locale[n] == '\0' || locale[n] == '.' || locale[n] == '@');
}

// The message language the way the C library picks one: LC_ALL, then LC_MESSAGES, then LANG,
// the first that is set and not empty.
uint16_t userLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* locale = std::getenv(name);
        if (!locale || !*locale) continue;
        if (localeIs(locale, "zh_TW")) return LANGUAGE_CHINESE_TAIWAN;
        if (localeIs(locale, "zh_CN")) return LANGUAGE_CHINESE_PRC;
        return LANGUAGE_ENGLISH_US;
    }
    return LANGUAGE_ENGLISH_US;
}

// Block `blockId` in `language`, or in whichever language comes first when `anyLanguage`.
const EmbeddedStringBlock* lookup(uint32_t blockId, uint16_t language, bool anyLanguage = false) {
    for (const EmbeddedStringBlock& b : EMBEDDED_STRING_BLOCKS)
        if (b.blockId == blockId && (anyLanguage || b.language == language)) return &b;
    return nullptr;
}

}  // namespace

bool findStringBlock(uint32_t blockId, StringBlock& block) {
    block = StringBlock{};
    // As the Windows loader does: the user's language, then English, then any variant.
    const EmbeddedStringBlock* found = lookup(blockId, userLanguage());
    if (!found) found = lookup(blockId, LANGUAGE_ENGLISH_US);
    if (!found) found = lookup(blockId, 0, true);
    if (!found) return false;
    block.units = found->units;
    block.count = found->count;
    return true;
}

// One line "caption: text" on standard error (just the text when the caption is empty);
// there is no one to dismiss it, so this returns at once.
void showWarning(const char* text, const char* caption, void* /*owner*/) {
    if (caption && *caption)
        std::fprintf(stderr, "%s: %s\n", caption, text ? text : "");
    else
        std::fprintf(stderr, "%s\n", text ? text : "");
    std::fflush(stderr);
}

// No browser is started from here: the launcher may run without a desktop.
bool offerAddress(const char* text, const char* where, const char* /*question*/, const char* caption,
                  const char* /*url*/, void* owner) {
    showWarning(text, caption, owner);
    showWarning(where, caption, owner);
    return false;
}

}  // namespace kvx::platform
