#include "base/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/AppString.h"
// The environment as the process itself changed it (the C library's copy may lag on Windows).
#include "platform/Environment.h"
#include "platform/HostSystem.h"

namespace kvx {

namespace {

constexpr const char* TRACE_VARIABLE = "KVX_TRACE";
constexpr const char* TRACE_TO_STDERR = "-";
constexpr const char* LINE_PREFIX = "kvx: ";
constexpr int32_t TRACE_LINE_CAPACITY = 64 * 1024;

enum class State { Unread, Off, On };

// A lock for the rare trace line. std::mutex would pull std::system_error, and with it the
// exception machinery and std::string, into launchers that must stay small.
class SpinLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) platform::yieldThread();
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class LockScope {
public:
    explicit LockScope(SpinLock& lock) : lock_(lock) { lock_.lock(); }
    ~LockScope() { lock_.unlock(); }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;

private:
    SpinLock& lock_;
};

struct TraceOutput {
    SpinLock lock;
    std::atomic<State> state{State::Unread};
    std::FILE* file = nullptr;
    bool ownsFile = false;

    // Under `lock`.
    void open() {
        AppString target;
        platform::getEnv(TRACE_VARIABLE, target);
        if (target.isEmpty()) {
            state = State::Off;
            return;
        }
        if (std::strcmp(target.c_str(), TRACE_TO_STDERR) == 0) {
            file = stderr;
        } else {
            // Appended: a script that starts the program several times keeps every run. Binary,
            // so that every system writes the same "\n" line ends.
            file = std::fopen(target.c_str(), "ab");
            ownsFile = file != nullptr;
        }
        state = file ? State::On : State::Off;
    }
    void close() {
        if (ownsFile && file) std::fclose(file);
        file = nullptr;
        ownsFile = false;
        state = State::Unread;
    }
};

TraceOutput& output() {
    static TraceOutput instance;
    return instance;
}

// Settled once per process (traceRestart aside): afterwards one atomic load per call.
State settledState() {
    TraceOutput& out = output();
    State seen = out.state.load(std::memory_order_acquire);
    if (seen != State::Unread) return seen;
    LockScope guard(out.lock);
    if (out.state == State::Unread) out.open();
    return out.state;
}

}  // namespace

bool traceEnabled() { return settledState() == State::On; }

void trace(const char* format, ...) {
    if (settledState() != State::On || !format) return;
    TraceOutput& out = output();
    LockScope guard(out.lock);
    if (!out.file) return;
    std::fputs(LINE_PREFIX, out.file);
    // Room for a long class path; a longer line is clipped rather than lost.
    AppString line;
    line.reserve(TRACE_LINE_CAPACITY);
    va_list args;
    va_start(args, format);
    line.formatV(format, args);
    va_end(args);
    line.appendChar('\n');
    std::fputs(line.c_str(), out.file);
    std::fflush(out.file);
}

void traceRestart() {
    TraceOutput& out = output();
    LockScope guard(out.lock);
    out.close();
    out.open();
}

}  // namespace kvx
