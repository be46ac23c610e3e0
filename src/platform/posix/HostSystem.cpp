#include "platform/HostSystem.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

namespace kvx::platform {

HostSystem hostSystem() { return HostSystem::Linux; }

void yieldThread() { sched_yield(); }

void sleepThread(unsigned milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

}  // namespace kvx::platform
