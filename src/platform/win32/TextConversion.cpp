#include "platform/TextConversion.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

namespace kvx::platform {

int32_t wideToAnsi(const uint16_t* units, int32_t count, char* out, int32_t outSize) {
    if (!units) return 0;
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(units), count, out,
                               out ? outSize : 0, nullptr, nullptr);
}

int32_t ansiToWide(const char* text, int32_t count, uint16_t* out, int32_t outSize) {
    if (!text) return 0;
    // Code page 65001 accepts no MB_PRECOMPOSED: the call would fail outright.
    DWORD flags = GetACP() == CP_UTF8 ? 0 : MB_PRECOMPOSED;
    return MultiByteToWideChar(CP_ACP, flags, text, count, reinterpret_cast<LPWSTR>(out), out ? outSize : 0);
}

int32_t ansiCharLength(unsigned char first) {
    // IsDBCSLeadByteEx is false for every byte of UTF-8, which has sequences up to 4 bytes.
    if (GetACP() == CP_UTF8) return utf8CharLength(first);
    return IsDBCSLeadByteEx(CP_ACP, first) ? 2 : 1;
}

int32_t formatBounded(char* out, int32_t capacity, const char* pattern, va_list args) {
    if (!out || capacity <= 0) return 0;
    // _vsnprintf writes no terminator when the text fills the count, and returns -1 when it
    // is longer: the last byte is kept for the terminator either way.
    int written = _vsnprintf(out, static_cast<size_t>(capacity - 1), pattern ? pattern : "", args);
    out[capacity - 1] = '\0';
    if (written < 0 || written > capacity - 1) written = static_cast<int>(std::strlen(out));
    return written;
}

}  // namespace kvx::platform
