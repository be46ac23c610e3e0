#include "os/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvxpack {

HostKind hostKind() { return HostKind::Linux; }

std::string executablePath() {
    // readlink does not say when it truncated, so grow until the answer fits with room to spare.
    std::vector<char> buffer(256);
    while (buffer.size() <= 65536) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return std::string();
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string();
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void removeFile(const std::string& path) { (void)::unlink(path.c_str()); }

bool makeExecutable(const std::string& path, std::string& error) {
    // umask can only be read by setting it; kvxpack has a single thread, so this is safe.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(path.c_str(), 0777 & ~mask) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string processTag() { return std::to_string(static_cast<long>(::getpid())); }

}  // namespace kvxpack
