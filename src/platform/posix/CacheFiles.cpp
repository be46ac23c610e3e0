#include "platform/CacheFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Environment.h"

extern char** environ;

namespace kvx::platform {

AppString userCacheDirectory() {
    AppString dir;
    if (getEnv("XDG_CACHE_HOME", dir) && !dir.isEmpty() && dir.charAt(0, '\0') == '/') return dir;
    AppString home;
    if (!getEnv("HOME", home) || home.isEmpty()) return AppString();
    home.append("/.cache");
    return home;
}

bool fileStamp(const char* path, FileStamp& out) {
    struct stat info {};
    if (!path || ::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    out.size = static_cast<uint64_t>(info.st_size);
    out.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    return true;
}

AppString fileIdentityText(const char* path) {
    struct stat info {};
    AppString text;
    if (!path || ::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return text;
    // The change time follows every write and every time stamp set; no one but the system sets it.
    text.format("%llu %lld.%ld %lld.%ld %llu %llu", static_cast<unsigned long long>(info.st_size),
                static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec,
                static_cast<long long>(info.st_ctim.tv_sec), info.st_ctim.tv_nsec,
                static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
    return text;
}

bool writeNewFile(const char* path, const unsigned char* data, uint64_t size) {
    if (!path) return false;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    while (ok && size > 0) {
        ssize_t written = ::write(fd, data, size < (1u << 30) ? size : (1u << 30));
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) {
            data += written;
            size -= static_cast<uint64_t>(written);
        }
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(path);
    return ok;
}

bool createDirectories(const char* path) {
    if (!path || !*path) return false;
    AppString partial;
    for (const char* p = path;; ++p) {
        if ((*p == '/' || *p == '\0') && p != path) {
            // Parents that exist or cannot be made are judged by the final test alone.
            partial = AppString(path, static_cast<int32_t>(p - path));
            ::mkdir(partial.c_str(), 0700);
        }
        if (*p == '\0') break;
    }
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool isPrivateDirectory(const char* path) {
    struct stat info {};
    if (!path || ::lstat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool createNewFile(const char* path) {
    if (!path) return false;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool removeFile(const char* path) { return path && ::unlink(path) == 0; }

bool renameReplacing(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

uint64_t freeDiskBytes(const char* path) {
    struct statvfs info {};
    if (!path || ::statvfs(path, &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

const char* javaLauncherName() { return "java"; }

uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

bool runQuietly(const StringPool& args, uint32_t timeoutMs) {
    if (args.count() == 0) return false;
    std::vector<char*> argv;
    for (int32_t i = 0; i < args.count(); ++i) argv.push_back(const_cast<char*>(args.entry(i)));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    // Nothing else the application left open reaches a process that outlives it.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = -1;
    int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;

    // Poll the child's end: a plain wait has no time limit, and no signal handler of ours
    // may disturb the application's own.
    const timespec step{0, 20 * 1000 * 1000};
    for (uint32_t waited = 0;; waited += 20) {
        int status = 0;
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno != EINTR) return false;
        if (waited >= timeoutMs) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        nanosleep(&step, nullptr);
    }
}

}  // namespace kvx::platform
