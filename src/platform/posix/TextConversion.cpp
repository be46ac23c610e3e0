// On Linux the launcher's 8-bit text is UTF-8. Invalid input never stops a conversion: a
// malformed byte becomes U+FFFD one way, an unpaired surrogate becomes "?" the other way.
#include "platform/TextConversion.h"

#include <cstdio>
#include <cstring>

namespace kvx::platform {

namespace {

int32_t encodeUtf8(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Decodes one character at `s` (of `n` bytes left); sets `used`. Malformed input: U+FFFD, 1 byte.
uint32_t decodeUtf8(const unsigned char* s, int32_t n, int32_t& used) {
    unsigned char b = s[0];
    used = 1;
    if (b < 0x80) return b;
    int32_t extra;
    uint32_t cp;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; }
    else return 0xFFFD;
    if (extra >= n) return 0xFFFD;
    for (int32_t i = 1; i <= extra; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    used = extra + 1;
    return cp;
}

}  // namespace

int32_t wideToAnsi(const uint16_t* units, int32_t count, char* out, int32_t outSize) {
    if (!units) return 0;
    if (count < 0) {
        count = 0;
        while (units[count] != 0) ++count;
        ++count;  // the zero unit is converted too, as the Windows call does
    }
    bool measuring = !out || outSize <= 0;
    int32_t total = 0;
    char piece[4];
    for (int32_t i = 0; i < count; ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = '?';
        }
        int32_t n = encodeUtf8(cp, piece);
        if (!measuring) {
            if (total + n > outSize) return 0;  // as WideCharToMultiByte: insufficient buffer
            for (int32_t k = 0; k < n; ++k) out[total + k] = piece[k];
        }
        total += n;
    }
    return total;
}

int32_t ansiToWide(const char* text, int32_t count, uint16_t* out, int32_t outSize) {
    if (!text) return 0;
    if (count < 0) {
        count = 0;
        while (text[count] != '\0') ++count;
        ++count;
    }
    bool measuring = !out || outSize <= 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    int32_t total = 0;
    for (int32_t i = 0; i < count;) {
        int32_t used = 1;
        uint32_t cp = decodeUtf8(s + i, count - i, used);
        i += used;
        int32_t n = cp >= 0x10000 ? 2 : 1;
        if (!measuring) {
            if (total + n > outSize) return 0;
            if (n == 2) {
                cp -= 0x10000;
                out[total] = static_cast<uint16_t>(0xD800 + (cp >> 10));
                out[total + 1] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                out[total] = static_cast<uint16_t>(cp);
            }
        }
        total += n;
    }
    return total;
}

int32_t ansiCharLength(unsigned char first) { return utf8CharLength(first); }

int32_t formatBounded(char* out, int32_t capacity, const char* pattern, va_list args) {
    if (!out || capacity <= 0) return 0;
    int written = std::vsnprintf(out, static_cast<size_t>(capacity), pattern ? pattern : "", args);
    if (written < 0) {
        out[0] = '\0';
        return 0;
    }
    return written > capacity - 1 ? capacity - 1 : written;
}

}  // namespace kvx::platform
