#include "zip/ByteSource.h"

#include <cstring>

namespace kvxpack {

bool MemorySource::readAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > size_ || length > size_ - offset) {
        error_ = "the data ended early";
        return false;
    }
    if (length > 0) std::memcpy(buffer, data_ + offset, length);
    return true;
}

}  // namespace kvxpack
