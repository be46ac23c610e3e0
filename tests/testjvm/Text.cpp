#include "Text.h"

#include <windows.h>

#include <cstdio>

namespace testjvm {

namespace {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (isHigh(u) && i + 1 < units.size() && isLow(units[i + 1])) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            appendUtf8(out, cp);
            ++i;
        } else if (isHigh(u) || isLow(u)) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

std::string utf16ToModifiedUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (char16_t u : units) {
        if (u == 0) {
            out += static_cast<char>(0xC0);
            out += static_cast<char>(0x80);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    auto cont = [&](size_t k) {
        return i + k < bytes.size() && (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    };
    auto at = [&](size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(bytes[i + k]) & 0x3F); };
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && cont(1)) {
            out += static_cast<char16_t>(((b & 0x1F) << 6) | at(1));
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            out += static_cast<char16_t>(((b & 0x0F) << 12) | (at(1) << 6) | at(2));
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            // Not modified UTF-8, but callers pass standard UTF-8 too: keep the character.
            char32_t cp = ((b & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                cp -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (cp >> 10));
                out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                out += u'\uFFFD';
            }
            i += 4;
        } else {
            out += u'\uFFFD';
            i += 1;
        }
    }
    return out;
}

std::string ansiToUtf8(const char* text) {
    if (text == nullptr || *text == '\0') return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return text;
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t*>(&wide[0]), n);
    wide.resize(static_cast<size_t>(n - 1));
    return utf16ToUtf8(wide);
}

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace testjvm
