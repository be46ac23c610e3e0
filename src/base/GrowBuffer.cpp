#include "base/GrowBuffer.h"

#include <atomic>

namespace kvx {

namespace {
std::atomic<bool> exhausted{false};
}

bool memoryExhausted() { return exhausted.load(std::memory_order_relaxed); }
void noteMemoryExhausted() { exhausted.store(true, std::memory_order_relaxed); }

int32_t grownCapacity(int32_t capacity, int32_t need) {
    if (need <= capacity) return capacity;
    int64_t next = capacity < 8 ? 8 : capacity;
    if (need > next) next *= 2;
    if (need > next) next = (static_cast<int64_t>(need) + 11) / 8 * 8;
    // A capacity past the 32-bit range cannot be represented: report exhaustion.
    if (next > INT32_MAX) return -1;
    return static_cast<int32_t>(next);
}

}  // namespace kvx
