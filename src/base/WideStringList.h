#pragma once
// WideStringList: a list of UTF-16 texts in one unit buffer, addressed by ascending start
// offsets; each entry keeps a 16-bit zero after it. Holds the program's arguments on their
// way to Java, where no ANSI form may stand between the command line and main.

#include <cstdint>

#include "base/GrowBuffer.h"

namespace kvx {

class WideStringList {
public:
    // Appends `count` units (-1: up to the 16-bit zero; null: empty text); false when memory
    // ran out (nothing added then).
    bool add(const uint16_t* units, int32_t count = -1);
    int32_t count() const { return starts_.length(); }
    // Entry i, zero-terminated, valid until the list changes; empty for an index out of range.
    const uint16_t* entry(int32_t i) const;
    int32_t entryLength(int32_t i) const;
    void clear();

private:
    GrowBuffer<uint16_t> units_;
    GrowBuffer<int32_t> starts_;
};

}  // namespace kvx
