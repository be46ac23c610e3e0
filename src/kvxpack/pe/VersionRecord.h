#pragma once
// VersionRecord: the version resource (VS_VERSIONINFO) that Explorer's properties and
// GetFileVersionInfo read: fixed numeric fields plus a US-English/Unicode string table.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pe/Bytes.h"

namespace kvxpack {

struct VersionEntry {
    std::string key;
    std::string value;  // UTF-8
};

// The keys --version accepts, in the order the string table lists them.
bool isVersionKey(std::string_view key);
const char* versionKeyList();

// "1.2.3.4" and "2.0 beta" read as four numbers (missing ones are 0); a text that does not
// start with a number, or a number above 65535, fails.
[[nodiscard]] bool parseVersionNumbers(std::string_view text, std::array<std::uint16_t, 4>& numbers, std::string& error);

// The resource for `entries` (known keys, each at most once). The numeric file version comes
// from FileVersion, the product version (number and string) from ProductVersion, else from
// FileVersion.
[[nodiscard]] bool versionResource(const std::vector<VersionEntry>& entries, Bytes& resource, std::string& error);

// Reads a version resource back: its numeric file version and its strings (UTF-8).
[[nodiscard]] bool readVersionResource(const Bytes& resource, std::array<std::uint16_t, 4>& fileVersion,
                                       std::vector<VersionEntry>& entries);

// UTF-8 to UTF-16 and back; false on a malformed sequence.
[[nodiscard]] bool utf8ToUtf16(std::string_view text, std::u16string& out);
std::string utf16ToUtf8(const std::u16string& text);

}  // namespace kvxpack
