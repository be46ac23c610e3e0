#include "platform/MappedFile.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvx::platform {

MappedFile::~MappedFile() { close(); }

bool MappedFile::openTail(const char* path, uint64_t tailBytes) {
    close();
    // Without blocking: opening a FIFO for reading would wait for a writer for ever.
    int fd = ::open(path ? path : "", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    file_ = fd;
    return mapTail(tailBytes);
}

bool MappedFile::openModuleTail(uint64_t tailBytes) { return openTail(modulePath().c_str(), tailBytes); }

bool MappedFile::mapTail(uint64_t tailBytes) {
    int fd = static_cast<int>(file_);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    fileSize_ = static_cast<uint64_t>(st.st_size);
    if (fileSize_ == 0) return true;  // nothing to map; an empty view
    uint64_t start = fileSize_ > tailBytes ? fileSize_ - tailBytes : 0;
    uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    uint64_t aligned = start / page * page;
    viewSize_ = fileSize_ - aligned;
    void* view = ::mmap(nullptr, viewSize_, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(aligned));
    if (view == MAP_FAILED) {
        viewSize_ = 0;
        return false;
    }
    view_ = view;
    data_ = static_cast<const unsigned char*>(view) + (start - aligned);
    size_ = fileSize_ - start;
    return true;
}

void MappedFile::close() {
    if (view_) ::munmap(view_, viewSize_);
    if (file_ >= 0) ::close(static_cast<int>(file_));
    view_ = nullptr;
    viewSize_ = 0;
    file_ = -1;
    data_ = nullptr;
    size_ = fileSize_ = 0;
}

bool appendFileContents(const char* path, AppString& out) {
    // Without blocking, so that a FIFO is refused below instead of waiting for a writer.
    int fd = ::open(path ? path : "", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // Only a regular file is read, and never past the size it had when opened: a device
    // such as /dev/zero would otherwise be read until memory runs out.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return false;
    }
    uint64_t left = static_cast<uint64_t>(st.st_size);
    // A short read keeps only the bytes read.
    char chunk[65536];
    while (left > 0) {
        size_t want = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
        ssize_t n = ::read(fd, chunk, want);
        if (n <= 0) break;
        out.append(chunk, static_cast<int32_t>(n));
        left -= static_cast<uint64_t>(n);
    }
    ::close(fd);
    return true;
}

}  // namespace kvx::platform
