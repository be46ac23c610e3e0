#pragma once
// Cutting 8-bit ANSI text to a byte limit without splitting a character: a fixed-size
// platform field (a tooltip, a balloon text) gets the longest whole-character prefix that
// fits. Cutting by bytes alone would leave a lone lead byte of a double-byte code page,
// which then swallows the terminator or shows as garbage.

#include <cstdint>

namespace kvx {

// Bytes taken by the character that starts with `first` (at least 1).
using AnsiCharLengthFn = int32_t (*)(unsigned char first);

// The number of bytes of `text` (`length` bytes, or up to its zero byte when shorter) that
// fit in `maxBytes` without cutting a character; a character whose bytes run past the end of
// the text is left out too. `charLength` defaults to the system's ANSI code page.
int32_t ansiFitLength(const char* text, int32_t length, int32_t maxBytes,
                      AnsiCharLengthFn charLength = nullptr);

// Copies that prefix into `out` of `outSize` bytes (at least 1) and terminates it; returns
// the bytes copied. A null text gives "".
int32_t copyAnsiFitting(char* out, int32_t outSize, const char* text, int32_t length,
                        AnsiCharLengthFn charLength = nullptr);

}  // namespace kvx
