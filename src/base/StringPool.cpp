#include "base/StringPool.h"

#include <cstring>

namespace kvx {

bool StringPool::add(const char* text) {
    if (!text) text = "";
    size_t size = std::strlen(text);
    if (size > static_cast<size_t>(INT32_MAX - 1)) {
        noteMemoryExhausted();
        return false;
    }
    int32_t offset = chars_.length();
    // Text and its zero byte in one step, so a failure leaves no half entry behind.
    if (!chars_.appendElements(text, static_cast<int32_t>(size) + 1)) return false;
    chars_.data()[offset + static_cast<int32_t>(size)] = '\0';
    if (!appendElements(&offset, 1)) {
        chars_.setLength(offset);
        return false;
    }
    return true;
}

const char* StringPool::entry(int32_t i) const {
    if (i < 0 || i >= length_) return "";
    return chars_.data() + data_[i];
}

void StringPool::clear() {
    setLength(0);
    chars_.setLength(0);
}

void StringPool::release() {
    freeStorage();
    chars_.freeStorage();
}

}  // namespace kvx
