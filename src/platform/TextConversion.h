#pragma once
// Conversions between the system's 8-bit ANSI text and UTF-16 code units.
// Windows: code page CP_ACP (flags 0 one way, MB_PRECOMPOSED the other). Linux: UTF-8.

#include <cstdarg>
#include <cstdint>

namespace kvx::platform {

// Converts `count` units (-1: up to and including the zero unit). With a null `out` or
// `outSize` 0, returns the number of bytes needed; otherwise the number written into `out`
// (at most `outSize`). 0 on failure.
int32_t wideToAnsi(const uint16_t* units, int32_t count, char* out, int32_t outSize);

// Converts `count` bytes (-1: up to and including the zero byte); same conventions in units.
int32_t ansiToWide(const char* text, int32_t count, uint16_t* out, int32_t outSize);

// Bytes taken by the character whose first byte is `first`: 2 for a lead byte of a
// double-byte ANSI code page on Windows, the sequence length where the ANSI code page is
// UTF-8 (Linux; Windows with code page 65001, as a --utf8 manifest sets), else 1.
int32_t ansiCharLength(unsigned char first);

// The length of the UTF-8 sequence that `first` begins; a continuation or invalid byte
// stands alone.
inline int32_t utf8CharLength(unsigned char first) {
    if ((first & 0xE0) == 0xC0) return 2;
    if ((first & 0xF0) == 0xE0) return 3;
    if ((first & 0xF8) == 0xF0) return 4;
    return 1;
}

// printf-style formatting of `pattern` into `out`, clipped to `capacity` - 1 characters and
// always terminated; returns the length written. Windows uses the system's own formatter
// (the launcher formats only %s, %d, %u and %x), which keeps mingw's larger one out of it.
int32_t formatBounded(char* out, int32_t capacity, const char* pattern, va_list args);

}  // namespace kvx::platform
