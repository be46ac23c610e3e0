// The single-instance channel on Linux: NAME.lock and NAME.sock in the user's own runtime
// folder. Whoever holds the lock file's lock is the first instance and listens on the socket;
// a crashed holder loses its lock with its process, so a socket it left behind is replaced by
// the next start instead of blocking it.
#include "platform/InstanceChannel.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/AppString.h"
#include "base/Trace.h"
#include "platform/TextConversion.h"

namespace kvx::platform {

namespace {

class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

uint64_t nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

int leftUntil(uint64_t deadline) {
    uint64_t now = nowMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// A folder only this user can enter: owned by the user, no access for anyone else, not a link.
bool isPrivateFolder(const char* path) {
    struct stat info{};
    return ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

bool makePrivateFolder(const AppString& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateFolder(path.c_str());
}

// $XDG_RUNTIME_DIR/kvx when that folder is the user's own; else /tmp/kvx-<uid>, which must be.
bool channelFolder(AppString& folder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) {
        folder = AppString(runtime);
        folder.append("/kvx");
    } else {
        folder.format("/tmp/kvx-%u", static_cast<unsigned>(::geteuid()));
    }
    return makePrivateFolder(folder);
}

bool peerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// Reads or writes exactly `size` bytes by `deadline`, or until `stop` becomes readable.
bool transfer(int fd, bool write, void* data, uint32_t size, uint64_t deadline, int stop) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        pollfd waits[2] = {{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0}, {stop, POLLIN, 0}};
        int ready = ::poll(waits, stop >= 0 ? 2 : 1, leftUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (stop >= 0 && waits[1].revents)) return false;
        ssize_t n = write ? ::send(fd, bytes, size, MSG_NOSIGNAL) : ::recv(fd, bytes, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<uint32_t>(n);
    }
    return true;
}

struct Channel {
    OwnedFd lock;
    OwnedFd listening;
    OwnedFd stopRead;
    OwnedFd stopWrite;
    pthread_t thread{};
    uint32_t maxSize = 0;
    InstanceReceiver receiver = nullptr;
    bool ended = false;  // guarded by endLock
    pthread_mutex_t endLock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t endSignal = PTHREAD_COND_INITIALIZER;
};

Channel* g_channel = nullptr;
bool g_closed = false;

void serveSender(Channel& channel, int fd) {
    // Only this user's processes may hand over, whatever the folder's mode lets through.
    if (!peerIsThisUser(fd)) return;
    uint64_t deadline = nowMs() + INSTANCE_READ_MS;
    unsigned char header[4];
    if (!transfer(fd, false, header, 4, deadline, channel.stopRead.get())) return;
    uint32_t size = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
    bool accepted = false;
    GrowBuffer<uint8_t> message;
    if (size <= channel.maxSize) {
        message.setLength(static_cast<int32_t>(size));
        if (message.length() == static_cast<int32_t>(size) &&
            (size == 0 || transfer(fd, false, message.data(), size, deadline, channel.stopRead.get())))
            accepted = channel.receiver(message.data(), size, false);
    } else {
        trace("single instance: a hand-over of %u bytes is dropped", size);
    }
    unsigned char answer = accepted ? 'K' : 'R';
    if (!transfer(fd, true, &answer, 1, deadline, channel.stopRead.get()) || !accepted) return;
    unsigned char confirmed = 0;
    if (transfer(fd, false, &confirmed, 1, deadline, channel.stopRead.get()) && confirmed == 'A')
        channel.receiver(message.data(), size, true);
}

void* channelThread(void* parameter) {
    Channel& channel = *static_cast<Channel*>(parameter);
    for (;;) {
        pollfd waits[2] = {{channel.listening.get(), POLLIN, 0}, {channel.stopRead.get(), POLLIN, 0}};
        int ready = ::poll(waits, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || waits[1].revents) break;
        OwnedFd sender(::accept4(channel.listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (sender) serveSender(channel, sender.get());
    }
    pthread_mutex_lock(&channel.endLock);
    channel.ended = true;
    pthread_cond_broadcast(&channel.endSignal);
    pthread_mutex_unlock(&channel.endLock);
    return nullptr;
}

enum class SendResult { ACCEPTED, REFUSED, NO_ANSWER };

SendResult sendToRunning(const sockaddr_un& address, const uint8_t* message, uint32_t size, uint32_t maxSize,
                         uint64_t deadline) {
    OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return SendResult::NO_ANSWER;
    // The holder binds its socket right after it took the lock: give it that moment.
    while (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if ((errno != ENOENT && errno != ECONNREFUSED && errno != EINTR) || leftUntil(deadline) == 0)
            return SendResult::NO_ANSWER;
        timespec pause{0, 20 * 1000000};
        nanosleep(&pause, nullptr);
    }
    if (!peerIsThisUser(fd.get())) return SendResult::NO_ANSWER;
    unsigned char header[4] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
                               static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
    // A message over the bound goes without its body: the receiver refuses it by its size.
    bool sendBody = size > 0 && size <= maxSize;
    unsigned char answer = 0;
    if (!transfer(fd.get(), true, header, 4, deadline, -1) ||
        (sendBody && !transfer(fd.get(), true, const_cast<uint8_t*>(message), size, deadline, -1)) ||
        !transfer(fd.get(), false, &answer, 1, deadline, -1))
        return SendResult::NO_ANSWER;
    if (answer != 'K') return SendResult::REFUSED;
    unsigned char confirm = 'A';
    return transfer(fd.get(), true, &confirm, 1, deadline + 1000, -1) ? SendResult::ACCEPTED : SendResult::NO_ANSWER;
}

}  // namespace

InstanceClaim claimInstanceOrHandOver(const char* name, const uint8_t* message, uint32_t size, uint32_t maxSize,
                                      InstanceReceiver receiver) {
    AppString folder;
    if (!channelFolder(folder)) {
        trace("single instance: no private folder for %s", name);
        return InstanceClaim::UNAVAILABLE;
    }
    AppString lockPath = folder;
    lockPath.append("/");
    lockPath.append(name);
    lockPath.append(".lock");
    AppString socketPath = folder;
    socketPath.append("/");
    socketPath.append(name);
    socketPath.append(".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.length() >= static_cast<int32_t>(sizeof address.sun_path)) {
        trace("single instance: the socket path %s is too long", socketPath.c_str());
        return InstanceClaim::UNAVAILABLE;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), static_cast<size_t>(socketPath.length()) + 1);

    OwnedFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock) return InstanceClaim::UNAVAILABLE;
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return InstanceClaim::UNAVAILABLE;
        SendResult sent = sendToRunning(address, message, size, maxSize, nowMs() + INSTANCE_ANSWER_MS);
        if (sent == SendResult::ACCEPTED) return InstanceClaim::DELIVERED;
        return sent == SendResult::REFUSED ? InstanceClaim::REFUSED : InstanceClaim::NO_ANSWER;
    }
    auto* channel = new (std::nothrow) Channel;
    if (!channel) return InstanceClaim::UNAVAILABLE;
    channel->maxSize = maxSize;
    channel->receiver = receiver;
    // A socket left by a crashed holder: the lock says no one listens on it any more.
    ::unlink(socketPath.c_str());
    int stopPipe[2];
    channel->listening.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!channel->listening || ::bind(channel->listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(channel->listening.get(), 16) != 0 || ::pipe2(stopPipe, O_CLOEXEC) != 0) {
        delete channel;
        return InstanceClaim::UNAVAILABLE;
    }
    channel->stopRead.reset(stopPipe[0]);
    channel->stopWrite.reset(stopPipe[1]);
    if (pthread_create(&channel->thread, nullptr, channelThread, channel) != 0) {
        delete channel;
        return InstanceClaim::UNAVAILABLE;
    }
    pthread_detach(channel->thread);
    channel->lock.reset(lock.release());
    g_channel = channel;
    trace("single instance: this start holds %s", name);
    return InstanceClaim::FIRST;
}

void closeInstanceChannel() {
    Channel* channel = g_channel;
    if (!channel || g_closed) return;
    g_closed = true;
    const char stop = 1;
    (void)!::write(channel->stopWrite.get(), &stop, 1);
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 1;
    pthread_mutex_lock(&channel->endLock);
    bool ended = channel->ended;
    while (!ended && pthread_cond_timedwait(&channel->endSignal, &channel->endLock, &until) == 0) ended = channel->ended;
    ended = channel->ended;
    pthread_mutex_unlock(&channel->endLock);
    // A thread that does not end in time keeps the channel: it is the process's memory then.
    if (!ended) return;
    g_channel = nullptr;
    delete channel;  // closes the socket and lets the lock go
}

InstanceMonitor::InstanceMonitor() {
    static_assert(sizeof(pthread_mutex_t) + sizeof(pthread_cond_t) <= sizeof storage_, "monitor storage");
    new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
    new (storage_ + sizeof(pthread_mutex_t)) pthread_cond_t(PTHREAD_COND_INITIALIZER);
}

InstanceMonitor::~InstanceMonitor() = default;

void InstanceMonitor::enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

void InstanceMonitor::leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

bool InstanceMonitor::wait(uint32_t ms) {
    auto* mutex = reinterpret_cast<pthread_mutex_t*>(storage_);
    auto* cond = reinterpret_cast<pthread_cond_t*>(storage_ + sizeof(pthread_mutex_t));
    if (ms == UINT32_MAX) return pthread_cond_wait(cond, mutex) == 0;
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    return pthread_cond_timedwait(cond, mutex, &until) == 0;
}

void InstanceMonitor::notifyAll() {
    pthread_cond_broadcast(reinterpret_cast<pthread_cond_t*>(storage_ + sizeof(pthread_mutex_t)));
}

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

void* threadEntry(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.run(start.context);
    return nullptr;
}

}  // namespace

bool startInstanceThread(void (*run)(void*), void* context) {
    auto* start = new (std::nothrow) ThreadStart{run, context};
    if (!start) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, threadEntry, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

bool currentDirectoryWide(GrowBuffer<uint16_t>& out) {
    out.setLength(0);
    char* dir = ::getcwd(nullptr, 0);
    if (!dir) return false;
    int32_t needed = ansiToWide(dir, -1, nullptr, 0);
    out.setLength(needed);
    bool ok = needed > 0 && out.length() == needed && ansiToWide(dir, -1, out.data(), needed) == needed;
    std::free(dir);
    if (!ok) return false;
    out.setLength(needed - 1);  // without the zero unit
    return true;
}

}  // namespace kvx::platform
