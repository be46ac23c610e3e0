#pragma once
// The record of what the code under test asked of the runtime: one line per event, appended
// and written through at once to the file named by KVX_TESTJVM_LOG, so that the record is
// complete even when the process ends abruptly. Without the variable nothing is recorded.

#include <mutex>
#include <string>
#include <string_view>

namespace testjvm {

class EventLog {
public:
    static EventLog& instance();

    // Appends `text` (control characters escaped) and a line end.
    void line(std::string_view text);
    // printf-style formatting into one line.
    void linef(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes `text` to the process's standard error as it stands (no escaping).
    static void toStderr(std::string_view text);

    ~EventLog();

private:
    EventLog() = default;
    void openLocked();

    std::mutex lock_;
    void* file_ = nullptr;  // HANDLE
    bool opened_ = false;
};

// printf into an owned string.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace testjvm
