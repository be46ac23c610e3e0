// The launchers' C++ runtime, trimmed to what they use (each launcher may take at most
// 128 KiB). libstdc++'s default terminate handler prints the exception's demangled type, and
// its operator new throws std::bad_alloc: together they bring in the demangler and the whole
// exception machinery, though the launcher throws nothing. Here terminate aborts, and running
// out of memory in operator new aborts too (the launcher's own buffers use malloc and report
// failure themselves).
#include <cstdlib>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) std::abort();
    return block;
}

void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// Guards of function-local statics. libstdc++'s guards throw on recursive initialization and
// so bring in the exception machinery as well. Byte 0 of the 64-bit guard is the compiler's
// "done" flag; the upper half serves as the lock of that one static, so that nested
// initializations of different statics never wait for each other.
#include <windows.h>

namespace {
volatile LONG* guardLock(long long* guard) { return reinterpret_cast<volatile LONG*>(guard) + 1; }
bool guardDone(long long* guard) { return *reinterpret_cast<volatile char*>(guard) != 0; }
}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
    for (;;) {
        if (guardDone(guard)) return 0;
        if (InterlockedCompareExchange(guardLock(guard), 1, 0) == 0) {
            if (!guardDone(guard)) return 1;
            InterlockedExchange(guardLock(guard), 0);
            return 0;
        }
        SwitchToThread();
    }
}

extern "C" void __cxa_guard_release(long long* guard) {
    *reinterpret_cast<volatile char*>(guard) = 1;
    InterlockedExchange(guardLock(guard), 0);
}

extern "C" void __cxa_guard_abort(long long* guard) { InterlockedExchange(guardLock(guard), 0); }
