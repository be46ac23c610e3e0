#pragma once
// AppWideString: UTF-16 code units with a 16-bit zero terminator. Used only at the edge
// where 8-bit text becomes a Java string.

#include <cstdint>

#include "base/GrowBuffer.h"

namespace kvx {

class AppWideString : public GrowBuffer<uint16_t> {
public:
    AppWideString() = default;
    // Copies `count` units; -1 means up to the 16-bit zero; null gives empty text.
    AppWideString(const uint16_t* units, int32_t count = -1);
    // Copies keep the terminator (the plain buffer copy would stop at the last unit).
    AppWideString(const AppWideString& other);
    AppWideString(AppWideString&&) noexcept = default;
    AppWideString& operator=(const AppWideString& other);
    AppWideString& operator=(AppWideString&&) noexcept = default;
    ~AppWideString() override = default;

    void setLength(int32_t n) override;
    // Replaces the content with the UTF-16 form of `count` bytes of ANSI text (-1: to the zero byte).
    void assignNarrow(const char* text, int32_t count = -1);
};

}  // namespace kvx
