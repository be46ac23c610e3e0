#include "EventLog.h"

#include "Text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace testjvm {

namespace {

std::string vformat(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out = vformat(fmt, args);
    va_end(args);
    return out;
}

EventLog& EventLog::instance() {
    static EventLog log;
    return log;
}

EventLog::~EventLog() {
    if (file_ != nullptr) CloseHandle(file_);
}

void EventLog::openLocked() {
    opened_ = true;
    DWORD n = GetEnvironmentVariableW(L"KVX_TESTJVM_LOG", nullptr, 0);
    if (n == 0) return;
    std::vector<wchar_t> path(n);
    if (GetEnvironmentVariableW(L"KVX_TESTJVM_LOG", path.data(), n) >= n) return;
    // Opened once per load; FILE_APPEND_DATA makes every write land at the current end.
    HANDLE h = CreateFileW(path.data(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) file_ = h;
}

void EventLog::line(std::string_view text) {
    std::string out = escapeControls(text);
    out += '\n';
    std::lock_guard<std::mutex> guard(lock_);
    if (!opened_) openLocked();
    if (file_ == nullptr) return;
    DWORD written = 0;
    // Unbuffered: once WriteFile returns the line survives any abrupt end of the process.
    WriteFile(file_, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

void EventLog::linef(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    line(text);
}

void EventLog::toStderr(std::string_view text) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace testjvm
