#include "platform/File.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kvx::platform {

namespace {

int fd(std::intptr_t handle) { return static_cast<int>(handle); }

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Directory;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    return FileKind::Other;
}

// Longest chain of links followed before giving up (the kernel's own limit is 40).
constexpr int MAX_LINKS = 40;

}  // namespace

FileKind fileKind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? FileKind::Missing : FileKind::Other;
    return kindOf(info.st_mode);
}

const char* fileKindText(FileKind kind) {
    switch (kind) {
        case FileKind::Missing: return "missing";
        case FileKind::Regular: return "a regular file";
        case FileKind::Directory: return "a directory";
        case FileKind::Fifo: return "a FIFO";
        case FileKind::Device: return "a device";
        case FileKind::Socket: return "a socket";
        case FileKind::Other: break;
    }
    return "not a regular file";
}

bool finalLinkTarget(const std::string& path, std::string& target, std::string& error) {
    target = path;
    for (int hops = 0; hops <= MAX_LINKS; ++hops) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
            error = "cannot read the link " + target + ": " + (length < 0 ? std::strerror(errno) : "it changed");
            return false;
        }
        const std::string next(buffer.data(), static_cast<std::size_t>(length));
        if (next.empty()) {
            error = "the link " + target + " is empty";
            return false;
        }
        const std::size_t slash = target.find_last_of('/');
        target = next[0] == '/' || slash == std::string::npos ? next : target.substr(0, slash + 1) + next;
    }
    error = "too many levels of links at " + path;
    return false;
}

File::~File() { release(); }

void File::release() {
    if (handle_ != INVALID) ::close(fd(handle_));
    handle_ = INVALID;
}

void File::recordSystemError() { error_ = std::strerror(errno); }

bool File::openRead(const std::string& path) {
    release();
    // The kind first: opening a FIFO waits for a writer, and opening a device can act.
    const FileKind before = fileKind(path);
    if (before != FileKind::Regular && before != FileKind::Missing && before != FileKind::Other) {
        error_ = std::string("it is ") + fileKindText(before) + ", not a regular file";
        return false;
    }
    // Without blocking all the same: the path may change between the check and the open.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
        error_ = std::string("it is ") + fileKindText(kindOf(info.st_mode)) + ", not a regular file";
        release();
        return false;
    }
    return true;
}

bool File::createNew(const std::string& path) {
    release();
    nameTaken_ = false;
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

void FileView::release() {
    if (base_ != nullptr) ::munmap(base_, mapped_);
    base_ = nullptr;
    mapped_ = 0;
    data_ = nullptr;
}

bool FileView::map(const File& file, std::uint64_t offset, std::size_t length) {
    release();
    // A page past the end would fault on reading; the size is checked just before mapping
    // (a file cut shorter while the view is read still can).
    struct stat info {};
    if (length == 0 || ::fstat(fd(file.handle_), &info) != 0 || info.st_size < 0 ||
        offset > static_cast<std::uint64_t>(info.st_size) || length > static_cast<std::uint64_t>(info.st_size) - offset) {
        return false;
    }
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    const std::size_t span = static_cast<std::size_t>(offset - start) + length;
    // Populated at once: one call instead of a fault per few pages.
    void* base = ::mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd(file.handle_), static_cast<off_t>(start));
    if (base == MAP_FAILED) return false;
    ::madvise(base, span, MADV_SEQUENTIAL);
    base_ = base;
    mapped_ = span;
    data_ = static_cast<const unsigned char*>(base) + (offset - start);
    return true;
}

}  // namespace kvx::platform
