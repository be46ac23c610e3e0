#pragma once
// The kind of system this program was built for, and what it offers every thread.

namespace kvx::platform {

enum class HostSystem { Linux, Windows32, Windows64 };
HostSystem hostSystem();

// Gives the rest of this thread's time slice to another thread (a spin lock's wait). The
// system's own call: the C++ library's would link a threads library into the launcher.
void yieldThread();
// Lets this thread sleep for about `milliseconds`.
void sleepThread(unsigned milliseconds);

}  // namespace kvx::platform
