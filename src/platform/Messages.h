#pragma once
// Message output and the string table.

#include <cstdint>

namespace kvx::platform {

// A string-table block: `count` UTF-16 units of 16 counted strings.
struct StringBlock {
    const uint16_t* units = nullptr;
    uint32_t count = 0;
};

// Finds string-table block `blockId` of the executable's own resources, in the variant
// the platform chooses for the user's language. False when there is none.
bool findStringBlock(uint32_t blockId, StringBlock& block);

// Shows `text` with `caption` to the user and returns when it has been dismissed.
// Windows: a message box MB_OK | MB_ICONWARNING owned by `owner` (may be null); a console
// program (kvxc.exe) writes the text to standard error first, as one line.
// Linux: one line on standard error.
void showWarning(const char* text, const char* caption, void* owner);

// A warning that offers a web address (`where` names it, `question` asks to open it).
// Windows: a box MB_YESNO | MB_ICONWARNING with `text`, `where` and `question`; "Yes" opens
// `url` in the user's browser (ShellExecuteW "open"); a console program writes `text` and
// `where` to standard error first. Linux: `text` and `where` on standard error, one line
// each. True when the address was opened.
bool offerAddress(const char* text, const char* where, const char* question, const char* caption,
                  const char* url, void* owner);

}  // namespace kvx::platform
