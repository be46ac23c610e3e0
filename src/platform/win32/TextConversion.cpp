#include "platform/TextConversion.h"

#include <windows.h>

namespace kvx::platform {

int32_t wideToAnsi(const uint16_t* units, int32_t count, char* out, int32_t outSize) {
    if (!units) return 0;
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(units), count, out,
                               out ? outSize : 0, nullptr, nullptr);
}

int32_t ansiToWide(const char* text, int32_t count, uint16_t* out, int32_t outSize) {
    if (!text) return 0;
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, count, reinterpret_cast<LPWSTR>(out),
                               out ? outSize : 0);
}

int32_t ansiCharLength(unsigned char first) {
    return IsDBCSLeadByteEx(CP_ACP, first) ? 2 : 1;
}

}  // namespace kvx::platform
