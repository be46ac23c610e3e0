#include "base/WideStringList.h"

namespace kvx {

namespace {
const uint16_t NO_UNITS[1] = {0};
}

bool WideStringList::add(const uint16_t* units, int32_t count) {
    if (!units) count = 0;
    else if (count < 0) {
        count = 0;
        while (units[count] != 0) ++count;
    }
    if (count > INT32_MAX - 1 - units_.length()) {
        noteMemoryExhausted();
        return false;
    }
    const int32_t start = units_.length();
    // Text and its zero unit in one step, so a failure leaves no half entry behind.
    if (!units_.appendElements(units, count) || !units_.appendElements(NO_UNITS, 1)) {
        units_.setLength(start);
        return false;
    }
    if (!starts_.appendElements(&start, 1)) {
        units_.setLength(start);
        return false;
    }
    return true;
}

const uint16_t* WideStringList::entry(int32_t i) const {
    if (i < 0 || i >= starts_.length()) return NO_UNITS;
    return units_.data() + starts_.data()[i];
}

int32_t WideStringList::entryLength(int32_t i) const {
    if (i < 0 || i >= starts_.length()) return 0;
    const int32_t end = i + 1 < starts_.length() ? starts_.data()[i + 1] : units_.length();
    return end - starts_.data()[i] - 1;
}

void WideStringList::clear() {
    units_.setLength(0);
    starts_.setLength(0);
}

}  // namespace kvx
