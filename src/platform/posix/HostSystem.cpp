#include "platform/HostSystem.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace kvx::platform {

namespace {

struct ThreadCall {
    int (*body)(void*);
    void* context;
    int result;
};

void* callBody(void* parameter) {
    auto* call = static_cast<ThreadCall*>(parameter);
    call->result = call->body(call->context);
    return nullptr;
}

}  // namespace

HostSystem hostSystem() { return HostSystem::Linux; }

void yieldThread() { sched_yield(); }

void sleepThread(unsigned milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

int runOnOwnThread(int (*body)(void*), void* context, uint64_t stackBytes) {
    ThreadCall call{body, context, 0};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return body(context);
    // A size the system refuses leaves its default.
    if (stackBytes >= static_cast<uint64_t>(PTHREAD_STACK_MIN) && stackBytes <= (~size_t{0} >> 1)) {
        (void)pthread_attr_setstacksize(&attributes, static_cast<size_t>(stackBytes));
    }
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, callBody, &call) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) return body(context);
    pthread_join(thread, nullptr);
    return call.result;
}

}  // namespace kvx::platform
