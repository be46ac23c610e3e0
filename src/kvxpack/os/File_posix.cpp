#include "os/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvxpack {

namespace {
int fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

File::~File() { release(); }

void File::release() {
    if (handle_ != INVALID) ::close(fd(handle_));
    handle_ = INVALID;
}

void File::recordSystemError() { error_ = std::strerror(errno); }

bool File::openRead(const std::string& path) {
    release();
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (opened < 0) {
        recordSystemError();
        return false;
    }
    handle_ = opened;
    struct stat info {};
    if (::fstat(opened, &info) != 0) {
        recordSystemError();
        release();
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error_ = "not a regular file";
        release();
        return false;
    }
    return true;
}

bool File::createNew(const std::string& path) {
    release();
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created < 0) {
        nameTaken_ = errno == EEXIST;
        recordSystemError();
        return false;
    }
    handle_ = created;
    return true;
}

bool File::size(std::uint64_t& bytes) {
    struct stat info {};
    if (::fstat(fd(handle_), &info) != 0) {
        recordSystemError();
        return false;
    }
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool File::readAt(std::uint64_t offset, void* buffer, std::size_t length) {
    auto* into = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(fd(handle_), into, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            recordSystemError();
            return false;
        }
        if (got == 0) {
            error_ = "the file ended early (was it changed while being read?)";
            return false;
        }
        into += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

bool File::write(const void* data, std::size_t length) {
    const auto* from = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t put = ::write(fd(handle_), from, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            recordSystemError();
            return false;
        }
        from += put;
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    const auto* from = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t put = ::pwrite(fd(handle_), from, length, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            recordSystemError();
            return false;
        }
        from += put;
        offset += static_cast<std::uint64_t>(put);
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::close() {
    if (handle_ == INVALID) return true;
    const int result = ::close(fd(handle_));
    handle_ = INVALID;
    if (result != 0) {
        recordSystemError();
        return false;
    }
    return true;
}

}  // namespace kvxpack
