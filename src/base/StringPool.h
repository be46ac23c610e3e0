#pragma once
// StringPool: a list of zero-terminated strings in one character buffer, addressed by an
// array of ascending start offsets. Entries are read in place; `clear` keeps both blocks.

#include <cstdint>

#include "base/GrowBuffer.h"

namespace kvx {

class StringPool : public GrowBuffer<int32_t> {
public:
    StringPool() = default;
    StringPool(const StringPool&) = default;
    StringPool& operator=(const StringPool&) = default;
    ~StringPool() override = default;

    // Appends the text and its zero byte; false when memory ran out (nothing added then).
    bool add(const char* text);
    int32_t count() const { return length_; }
    // Entry i, zero-terminated, valid until the pool changes. "" for an index out of range.
    const char* entry(int32_t i) const;
    void clear();
    void release();

    const GrowBuffer<char>& chars() const { return chars_; }

private:
    GrowBuffer<char> chars_;
};

}  // namespace kvx
