#include "platform/File.h"

namespace kvx::platform {

// One loop for every system: a plain read and write through the caller's buffer measured
// faster here than copy_file_range, which keeps the bytes in the kernel.
bool File::appendFrom(File& from, std::uint64_t offset, std::uint64_t length, unsigned char* buffer,
                      std::size_t bufferSize) {
    while (length > 0) {
        const std::size_t chunk = length < bufferSize ? static_cast<std::size_t>(length) : bufferSize;
        if (!from.readAt(offset, buffer, chunk) || !write(buffer, chunk)) return false;
        offset += chunk;
        length -= chunk;
    }
    return true;
}

}  // namespace kvx::platform
