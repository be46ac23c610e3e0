#include "base/AppWideString.h"

#include <cstring>

#include "platform/TextConversion.h"

namespace kvx {

AppWideString::AppWideString(const uint16_t* units, int32_t count) {
    if (!units) count = 0;
    else if (count < 0) {
        count = 0;
        while (units[count] != 0) ++count;
    }
    setLength(0);
    appendElements(units, count);
}

AppWideString::AppWideString(const AppWideString& other) : GrowBuffer<uint16_t>() {
    setLength(0);
    appendElements(other.data_, other.length_);
}

AppWideString& AppWideString::operator=(const AppWideString& other) {
    if (this != &other) {
        setLength(0);
        appendElements(other.data_, other.length_);
    }
    return *this;
}

void AppWideString::setLength(int32_t n) {
    if (n < 0) n = 0;
    if (n == INT32_MAX) {
        noteMemoryExhausted();
        return;
    }
    if (!grow(n + 1)) return;
    data_[n] = 0;
    length_ = n;
}

void AppWideString::assignNarrow(const char* text, int32_t count) {
    setLength(0);
    if (!text || count == 0) return;
    int32_t needed = platform::ansiToWide(text, count, nullptr, 0);
    if (needed <= 0) return;
    setLength(needed);
    if (length_ != needed) return;
    int32_t written = platform::ansiToWide(text, count, data_, length_ + 1);
    if (written < 0) written = 0;
    if (written > needed) written = needed;
    data_[written] = 0;
    int32_t units = 0;
    while (units < written && data_[units] != 0) ++units;
    setLength(units);
}

}  // namespace kvx
