#include "base/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/AppString.h"
// The environment as the process itself changed it (the C library's copy may lag on Windows).
#include "platform/Environment.h"

namespace kvx {

namespace {

constexpr const char* TRACE_VARIABLE = "KVX_TRACE";
constexpr const char* TRACE_TO_STDERR = "-";
constexpr const char* LINE_PREFIX = "kvx: ";

enum class State { Unread, Off, On };

struct TraceOutput {
    std::mutex lock;
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
    std::lock_guard<std::mutex> guard(out.lock);
    if (out.state == State::Unread) out.open();
    return out.state;
}

}  // namespace

bool traceEnabled() { return settledState() == State::On; }

void trace(const char* format, ...) {
    if (settledState() != State::On || !format) return;
    TraceOutput& out = output();
    std::lock_guard<std::mutex> guard(out.lock);
    if (!out.file) return;
    std::fputs(LINE_PREFIX, out.file);
    va_list args;
    va_start(args, format);
    std::vfprintf(out.file, format, args);
    va_end(args);
    std::fputc('\n', out.file);
    std::fflush(out.file);
}

void traceRestart() {
    TraceOutput& out = output();
    std::lock_guard<std::mutex> guard(out.lock);
    out.close();
    out.open();
}

}  // namespace kvx
