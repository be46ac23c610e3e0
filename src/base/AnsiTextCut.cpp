#include "base/AnsiTextCut.h"

#include <cstring>

#include "platform/TextConversion.h"

namespace kvx {

int32_t ansiFitLength(const char* text, int32_t length, int32_t maxBytes, AnsiCharLengthFn charLength) {
    if (!text || length <= 0 || maxBytes <= 0) return 0;
    if (!charLength) charLength = platform::ansiCharLength;
    // Walk from the start: a trail byte may look like a lead byte, so only the walk knows
    // where characters begin.
    int32_t pos = 0;
    while (pos < length && text[pos] != '\0') {
        int32_t n = charLength(static_cast<unsigned char>(text[pos]));
        if (n < 1) n = 1;
        if (n > maxBytes - pos || n > length - pos) break;
        bool whole = true;
        for (int32_t k = 1; k < n; ++k) {
            if (text[pos + k] == '\0') whole = false;
        }
        if (!whole) break;
        pos += n;
    }
    return pos;
}

int32_t copyAnsiFitting(char* out, int32_t outSize, const char* text, int32_t length,
                        AnsiCharLengthFn charLength) {
    if (!out || outSize <= 0) return 0;
    int32_t n = ansiFitLength(text, length, outSize - 1, charLength);
    if (n > 0) std::memcpy(out, text, static_cast<size_t>(n));
    out[n] = '\0';
    return n;
}

}  // namespace kvx
