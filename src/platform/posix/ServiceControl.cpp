#include "platform/ServiceControl.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/AppString.h"
#include "base/Trace.h"
#include "platform/Environment.h"

namespace kvx::platform {

namespace {

constexpr const char* NOTIFY_VARIABLE = "NOTIFY_SOCKET";

// The signal handler's only work: one byte into this pipe, read by the stop thread.
int stopPipe[2] = {-1, -1};
ServiceStopRequest stopRequest = nullptr;

// One datagram to systemd's socket: a path, or an abstract name written with a leading "@".
void notifySystemd(const char* message) {
    AppString path;
    if (!getEnv(NOTIFY_VARIABLE, path) || path.isEmpty()) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.length()) >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.c_str(), static_cast<size_t>(path.length()));
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.length());
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (::sendto(fd, message, std::strlen(message), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size) < 0) {
        trace("notify %s failed: %s", message, std::strerror(errno));
    } else {
        trace("notify %s", message);
    }
    ::close(fd);
}

void onTerminate(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(stopPipe[1], &byte, 1);
    errno = saved;
}

// Waits for the first SIGTERM, then tells systemd and asks Java to end; systemd itself ends
// the process when that takes longer than the unit's TimeoutStopSec.
void* watchStopSignal(void*) {
    char byte = 0;
    while (::read(stopPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    notifySystemd("STOPPING=1");
    if (stopRequest) stopRequest();
    return nullptr;
}

}  // namespace

// systemd starts an ordinary process; what a service needs is told through the socket.
bool runAsService(const char*, const char*, ServiceBody, int&) { return false; }

void reportServiceProgress() {}

void reportServiceRunning(ServiceStopRequest onStop) {
    AppString path;
    if (!getEnv(NOTIFY_VARIABLE, path) || path.isEmpty() || stopRequest) return;
    stopRequest = onStop;
    // Installed now, after the runtime was created: its own SIGTERM handler (shutdown hooks)
    // would otherwise replace this one.
    if (::pipe2(stopPipe, O_CLOEXEC) == 0) {
        pthread_t watcher;
        if (::pthread_create(&watcher, nullptr, watchStopSignal, nullptr) == 0) {
            ::pthread_detach(watcher);
            struct sigaction action {};
            action.sa_handler = onTerminate;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(SIGTERM, &action, nullptr);
        }
    }
    notifySystemd("READY=1");
}

// A launch failure's message already went to standard error, which systemd keeps in its journal.
bool reportServiceMessage(const char*, int) { return false; }

void serviceEndsWithProcess() {}

}  // namespace kvx::platform
