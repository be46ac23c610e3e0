#include "natives/TrayIconTable.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/GrowBuffer.h"

namespace kvx {

TrayIconTable::~TrayIconTable() { std::free(entries_); }

bool TrayIconTable::reserve(int32_t needed) {
    if (needed <= capacity_) return true;
    // The launcher's one growth rule: 8 at least, then doubled, then needed + 11 rounded down to 8.
    int32_t c = grownCapacity(capacity_, needed);
    if (c < needed) return false;
    void* grown = std::realloc(entries_, static_cast<size_t>(c) * sizeof(TrayIconEntry));
    if (!grown) return false;
    entries_ = static_cast<TrayIconEntry*>(grown);
    capacity_ = c;
    return true;
}

bool TrayIconTable::append(const TrayIconEntry& entry) {
    if (size_ == INT32_MAX || !reserve(size_ + 1)) return false;
    entries_[size_++] = entry;
    return true;
}

int32_t TrayIconTable::indexOf(int32_t id) const {
    for (int32_t i = 0; i < size_; ++i) {
        if (entries_[i].id == id) return i;
    }
    return -1;
}

void TrayIconTable::removeAt(int32_t index) {
    if (index < 0 || index >= size_) return;
    std::memmove(entries_ + index, entries_ + index + 1,
                 static_cast<size_t>(size_ - index - 1) * sizeof(TrayIconEntry));
    --size_;
}

TrayIconEntry* TrayIconTable::takeAll(int32_t& count) {
    TrayIconEntry* taken = entries_;
    count = size_;
    entries_ = nullptr;
    size_ = capacity_ = 0;
    return taken;
}

void TrayIconTable::freeEntries(TrayIconEntry* entries) { std::free(entries); }

}  // namespace kvx
