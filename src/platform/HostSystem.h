#pragma once
// The kind of system this program was built for, and what it offers every thread.

#include <cstdint>

namespace kvx::platform {

enum class HostSystem { Linux, Windows32, Windows64 };
HostSystem hostSystem();

// Gives the rest of this thread's time slice to another thread (a spin lock's wait). The
// system's own call: the C++ library's would link a threads library into the launcher.
void yieldThread();
// Lets this thread sleep for about `milliseconds`.
void sleepThread(unsigned milliseconds);

// Runs `body(context)` on a new thread whose stack reserves `stackBytes` (0: the system's
// default for this program) and returns its result once it has ended; runs it on the calling
// thread when no thread can be made.
int runOnOwnThread(int (*body)(void*), void* context, uint64_t stackBytes);

}  // namespace kvx::platform
