#include "pe/VersionRecord.h"

namespace kvxpack {

namespace {

constexpr const char* KEYS[] = {"FileVersion",    "ProductVersion",  "ProductName",      "CompanyName",
                                "FileDescription", "LegalCopyright", "OriginalFilename", "InternalName"};
constexpr std::uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr std::uint32_t FIXED_STRUCT_VERSION = 0x00010000;
constexpr std::uint32_t FIXED_SIZE = 52;
constexpr std::uint32_t OS_NT_WINDOWS32 = 0x00040004;
constexpr std::uint32_t FILE_TYPE_APP = 1;
constexpr std::uint16_t LANGUAGE_EN_US = 0x0409;
constexpr std::uint16_t CODE_PAGE_UNICODE = 1200;

void appendText(Bytes& out, const std::u16string& text) {
    for (char16_t unit : text) append16(out, unit);
    append16(out, 0);
}

// One block: length, value length, type, key, value, children; each part 4-byte aligned.
Bytes block(const std::u16string& key, const Bytes& value, std::uint16_t valueLength, std::uint16_t type,
            const std::vector<Bytes>& children) {
    Bytes out(6, 0);
    appendText(out, key);
    padTo(out, 4);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        padTo(out, 4);
        out.insert(out.end(), child.begin(), child.end());
    }
    put16(out.data(), static_cast<std::uint32_t>(out.size()));
    put16(out.data() + 2, valueLength);
    put16(out.data() + 4, type);
    return out;
}

std::vector<VersionEntry>::const_iterator findKey(const std::vector<VersionEntry>& entries, std::string_view key) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->key == key) return it;
    }
    return entries.end();
}

struct Block {
    std::u16string key;
    std::size_t valueAt = 0;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::size_t childrenAt = 0;
    std::size_t end = 0;
};

// Reads the block at `at` within `limit`.
bool readBlock(const Bytes& bytes, std::size_t at, std::size_t limit, Block& out) {
    if (!fits(at, 6, limit)) return false;
    const std::size_t length = le16(bytes.data() + at);
    if (length < 6 || !fits(at, length, limit)) return false;
    out.end = at + length;
    out.valueLength = le16(bytes.data() + at + 2);
    out.type = le16(bytes.data() + at + 4);
    out.key.clear();
    std::size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > out.end) return false;
        const char16_t unit = le16(bytes.data() + p);
        if (unit == 0) break;
        out.key.push_back(unit);
    }
    p = (p + 2 + 3) & ~std::size_t(3);
    out.valueAt = p;
    const std::size_t valueBytes = out.type == 1 ? std::size_t(out.valueLength) * 2 : out.valueLength;
    if (p + valueBytes > out.end) return false;
    out.childrenAt = (p + valueBytes + 3) & ~std::size_t(3);
    return true;
}

template <typename Visit>
void forChildren(const Bytes& bytes, const Block& parent, Visit visit) {
    std::size_t at = parent.childrenAt;
    Block child;
    while (at < parent.end && readBlock(bytes, at, parent.end, child)) {
        visit(child);
        at = (child.end + 3) & ~std::size_t(3);
    }
}

}  // namespace

bool isVersionKey(std::string_view key) {
    for (const char* known : KEYS) {
        if (key == known) return true;
    }
    return false;
}

const char* versionKeyList() {
    return "FileVersion, ProductVersion, ProductName, CompanyName, FileDescription, LegalCopyright, "
           "OriginalFilename, InternalName";
}

bool parseVersionNumbers(std::string_view text, std::array<std::uint16_t, 4>& numbers, std::string& error) {
    numbers = {0, 0, 0, 0};
    std::size_t at = 0;
    for (std::size_t part = 0; part < numbers.size(); ++part) {
        if (at >= text.size() || text[at] < '0' || text[at] > '9') {
            if (part == 0) {
                error = "'" + std::string(text) + "' does not start with a version number such as 1.2.3.4";
                return false;
            }
            break;
        }
        std::uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
            if (value > 0xFFFF) {
                error = "'" + std::string(text) + "' has a number above 65535";
                return false;
            }
        }
        numbers[part] = static_cast<std::uint16_t>(value);
        if (at + 1 < text.size() && text[at] == '.' && text[at + 1] >= '0' && text[at + 1] <= '9') {
            ++at;
        } else {
            break;
        }
    }
    return true;
}

bool utf8ToUtf16(std::string_view text, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            code = lead & 0x1F;
            extra = 1;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            code = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            code = lead & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not characters.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return true;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

bool versionResource(const std::vector<VersionEntry>& entries, Bytes& resource, std::string& error) {
    std::array<std::uint16_t, 4> fileNumbers{};
    std::array<std::uint16_t, 4> productNumbers{};
    const auto file = findKey(entries, "FileVersion");
    const auto product = findKey(entries, "ProductVersion");
    if (file != entries.end() && !parseVersionNumbers(file->value, fileNumbers, error)) {
        error = "--version FileVersion: " + error;
        return false;
    }
    productNumbers = fileNumbers;
    if (product != entries.end() && !parseVersionNumbers(product->value, productNumbers, error)) {
        error = "--version ProductVersion: " + error;
        return false;
    }
    Bytes fixed;
    append32(fixed, FIXED_SIGNATURE);
    append32(fixed, FIXED_STRUCT_VERSION);
    append32(fixed, (std::uint32_t(fileNumbers[0]) << 16) | fileNumbers[1]);
    append32(fixed, (std::uint32_t(fileNumbers[2]) << 16) | fileNumbers[3]);
    append32(fixed, (std::uint32_t(productNumbers[0]) << 16) | productNumbers[1]);
    append32(fixed, (std::uint32_t(productNumbers[2]) << 16) | productNumbers[3]);
    append32(fixed, 0x3F);  // flags mask
    append32(fixed, 0);     // flags
    append32(fixed, OS_NT_WINDOWS32);
    append32(fixed, FILE_TYPE_APP);
    append32(fixed, 0);  // subtype
    append32(fixed, 0);  // date, kept 0 so that equal inputs give equal files
    append32(fixed, 0);

    // Explorer's "Product version" shows the string: without its own, it is the file's.
    std::vector<VersionEntry> filled = entries;
    if (file != entries.end() && product == entries.end()) filled.push_back({"ProductVersion", file->value});
    std::vector<Bytes> strings;
    for (const char* key : KEYS) {
        const auto entry = findKey(filled, key);
        if (entry == filled.end()) continue;
        std::u16string value;
        if (!utf8ToUtf16(entry->value, value)) {
            error = std::string("--version ") + key + ": the value is not UTF-8 text";
            return false;
        }
        Bytes text;
        appendText(text, value);
        std::u16string name(key, key + std::char_traits<char>::length(key));
        strings.push_back(block(name, text, static_cast<std::uint16_t>(value.size() + 1), 1, {}));
    }
    const Bytes table = block(u"040904B0", {}, 0, 1, strings);
    const Bytes stringInfo = block(u"StringFileInfo", {}, 0, 1, {table});
    Bytes translation;
    append16(translation, LANGUAGE_EN_US);
    append16(translation, CODE_PAGE_UNICODE);
    const Bytes var = block(u"Translation", translation, 4, 0, {});
    const Bytes varInfo = block(u"VarFileInfo", {}, 0, 1, {var});
    resource = block(u"VS_VERSION_INFO", fixed, FIXED_SIZE, 0, {stringInfo, varInfo});
    return true;
}

bool readVersionResource(const Bytes& resource, std::array<std::uint16_t, 4>& fileVersion,
                         std::vector<VersionEntry>& entries) {
    entries.clear();
    Block root;
    if (!readBlock(resource, 0, resource.size(), root) || root.key != u"VS_VERSION_INFO" ||
        root.valueLength < FIXED_SIZE || le32(resource.data() + root.valueAt) != FIXED_SIGNATURE) {
        return false;
    }
    const std::uint32_t high = le32(resource.data() + root.valueAt + 8);
    const std::uint32_t low = le32(resource.data() + root.valueAt + 12);
    fileVersion = {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                   static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
    forChildren(resource, root, [&](const Block& info) {
        if (info.key != u"StringFileInfo") return;
        forChildren(resource, info, [&](const Block& table) {
            forChildren(resource, table, [&](const Block& text) {
                std::u16string value;
                for (std::size_t i = 0; i + 1 < text.valueLength; ++i) {
                    value.push_back(static_cast<char16_t>(le16(resource.data() + text.valueAt + 2 * i)));
                }
                entries.push_back({utf16ToUtf8(text.key), utf16ToUtf8(value)});
            });
        });
    });
    return true;
}

}  // namespace kvxpack
