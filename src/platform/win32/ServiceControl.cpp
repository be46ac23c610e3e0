#include "platform/ServiceControl.h"

#include <windows.h>

#include <atomic>
#include <new>

#include "base/AppString.h"
#include "base/AppWideString.h"
#include "base/Trace.h"
#include "platform/win32/SrwLockScope.h"
#include "platform/win32/ScopedHandle.h"

namespace kvx::platform {

namespace {

// Finding and creating a runtime may take long (a class-data archive being written): each
// step of the start has this long before the manager calls it hung.
constexpr DWORD START_WAIT_HINT_MS = 30000;
// While a stop is under way, a new checkpoint each second.
constexpr DWORD STOP_CHECK_MS = 1000;
constexpr DWORD STOP_WAIT_HINT_MS = 2 * STOP_CHECK_MS;

// The one service of this process. Made once, on the main thread, before the dispatcher
// starts; never freed: the runtime's threads may report through it until the process ends.
// The status is changed under `statusLock`, which is never held while Java runs.
struct Service {
    AppWideString name;
    AppString logPath;
    ServiceBody body = nullptr;
    std::atomic<ServiceStopRequest> onStop{nullptr};
    SERVICE_STATUS_HANDLE handle = nullptr;
    SRWLOCK statusLock = SRWLOCK_INIT;
    SERVICE_STATUS status{};
    bool stopped = false;
    ScopedHandle ended;        // set once "stopped" was reported
    ScopedHandle output;       // the log file or the null device, the process's standard output
    bool outputIsLog = false;  // a message can go to the log file
    std::atomic<bool> stopRequested{false};
    int exitCode = 0;
};

Service* current = nullptr;

// Reports `state` (pending states with the next checkpoint); nothing after "stopped".
void setStatus(Service& s, DWORD state, DWORD waitHint) {
    ExclusiveLockScope hold(s.statusLock);
    if (s.stopped || !s.handle) return;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    if (state != s.status.dwCurrentState) s.status.dwCheckPoint = 0;
    s.status.dwCurrentState = state;
    s.status.dwCheckPoint = pending ? s.status.dwCheckPoint + 1 : 0;
    s.status.dwWaitHint = pending ? waitHint : 0;
    // Pause and continue are never accepted; stop and shutdown only while running.
    s.status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    SetServiceStatus(s.handle, &s.status);
}

// "stopped" with `code`: 0 as no error, a Windows error code as itself, any other code as the
// service's own. Once only; later reports are dropped.
void reportStopped(Service& s, int code, bool windowsError) {
    {
        ExclusiveLockScope hold(s.statusLock);
        if (s.stopped) return;
        s.status.dwCurrentState = SERVICE_STOPPED;
        s.status.dwControlsAccepted = 0;
        s.status.dwCheckPoint = 0;
        s.status.dwWaitHint = 0;
        s.status.dwWin32ExitCode =
            code == 0 ? NO_ERROR : windowsError ? static_cast<DWORD>(code) : ERROR_SERVICE_SPECIFIC_ERROR;
        s.status.dwServiceSpecificExitCode = code != 0 && !windowsError ? static_cast<DWORD>(code) : 0;
        trace("service stopped, exit code %d", code);
        if (s.handle && !SetServiceStatus(s.handle, &s.status)) trace("service: status not taken (%lu)", GetLastError());
        s.stopped = true;
    }
    SetEvent(s.ended.get());
}

DWORD WINAPI callStopRequest(void* param) {
    auto* s = static_cast<Service*>(param);
    if (ServiceStopRequest onStop = s->onStop.load()) onStop();
    return 0;
}

// Java is asked to end on a thread of its own, which it may keep for good; this one keeps the
// manager informed and ends the process when Java has not ended in time.
DWORD WINAPI watchStop(void* param) {
    auto* s = static_cast<Service*>(param);
    ScopedHandle caller(CreateThread(nullptr, 0, callStopRequest, s, 0, nullptr));
    if (!caller.valid()) trace("stop: no thread for Java (%lu)", GetLastError());
    for (DWORD waited = 0; waited < STOP_TIMEOUT_MS; waited += STOP_CHECK_MS) {
        if (WaitForSingleObject(s->ended.get(), STOP_CHECK_MS) == WAIT_OBJECT_0) return 0;
        setStatus(*s, SERVICE_STOP_PENDING, STOP_WAIT_HINT_MS);
    }
    trace("stop: the runtime has not ended within %u ms; ending the process", STOP_TIMEOUT_MS);
    reportStopped(*s, STOP_TIMEOUT_EXIT_CODE, true);
    TerminateProcess(GetCurrentProcess(), STOP_TIMEOUT_EXIT_CODE);
    return 0;
}

DWORD WINAPI controlHandler(DWORD control, DWORD, void*, void* context) {
    auto* s = static_cast<Service*>(context);
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
        // Accepted only once Java runs; a second request changes nothing.
        if (!s->onStop.load() || s->stopRequested.exchange(true)) return NO_ERROR;
        trace("service: %s requested", control == SERVICE_CONTROL_STOP ? "stop" : "shutdown");
        setStatus(*s, SERVICE_STOP_PENDING, STOP_WAIT_HINT_MS);
        ScopedHandle watch(CreateThread(nullptr, 0, watchStop, s, 0, nullptr));
        if (!watch.valid()) callStopRequest(s);  // no deadline then, but the stop still happens
        return NO_ERROR;
    }
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// A service has no console: standard output and error go to the log file (appended, created
// when missing), else to the null device. Set before the runtime's C library is loaded, which
// takes its streams from here, as Java's System.out and System.err do.
void redirectOutput(Service& s) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE out = INVALID_HANDLE_VALUE;
    if (!s.logPath.isEmpty()) {
        // Append access only: every write lands at the end, whoever else writes the file.
        out = CreateFileA(s.logPath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, &inherit,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) trace("service log %s cannot be opened (%lu)", s.logPath.c_str(), GetLastError());
        s.outputIsLog = out != INVALID_HANDLE_VALUE;
    }
    if (out == INVALID_HANDLE_VALUE) out = CreateFileA("NUL", GENERIC_WRITE, share, &inherit, OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    s.output.reset(out);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, out);
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    Service& s = *current;
    s.handle = RegisterServiceCtrlHandlerExW(reinterpret_cast<LPCWSTR>(s.name.data()), controlHandler, &s);
    if (!s.handle) {
        const DWORD error = GetLastError();
        trace("service: no control handler (%lu)", error);
        s.exitCode = static_cast<int>(error);
        return;
    }
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    setStatus(s, SERVICE_START_PENDING, START_WAIT_HINT_MS);
    redirectOutput(s);
    s.exitCode = s.body();
    reportStopped(s, s.exitCode, false);
}

// One line of `text` at the end of the log file, after the local time.
void writeLogLine(Service& s, const char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    AppString line;
    line.format("%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond);
    line.append(text);
    line.append("\r\n");
    DWORD written = 0;
    WriteFile(s.output.get(), line.c_str(), static_cast<DWORD>(line.length()), &written, nullptr);
}

// An error event under the service's name; without a registered message file, the event
// viewer shows the text itself as the event's data.
void writeEvent(Service& s, const char* text, int code) {
    HANDLE source = RegisterEventSourceW(nullptr, reinterpret_cast<LPCWSTR>(s.name.data()));
    if (!source) return;
    AppWideString units;
    units.assignNarrow(text);
    LPCWSTR strings[] = {reinterpret_cast<LPCWSTR>(units.data())};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, static_cast<DWORD>(code), nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

}  // namespace

bool runAsService(const char* name, const char* logPath, ServiceBody body, int& exitCode) {
    auto* s = new (std::nothrow) Service;
    if (!s) return false;
    s->name.assignNarrow(name);
    s->logPath = AppString(logPath);
    s->body = body;
    s->ended.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    current = s;
    SERVICE_TABLE_ENTRYW table[] = {{reinterpret_cast<LPWSTR>(s->name.data()), serviceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once (ERROR_FAILED_SERVICE_CONTROLLER_
    // CONNECT) when a console, Explorer or anything but the manager started the process.
    if (!StartServiceCtrlDispatcherW(table)) {
        trace("not started by the service manager (%lu): running as an application", GetLastError());
        current = nullptr;
        delete s;
        return false;
    }
    exitCode = s->exitCode;
    return true;
}

void reportServiceProgress() {
    Service* s = current;
    if (!s) return;
    {
        SharedLockScope hold(s->statusLock);
        if (s->status.dwCurrentState != SERVICE_START_PENDING) return;
    }
    setStatus(*s, SERVICE_START_PENDING, START_WAIT_HINT_MS);
}

void reportServiceRunning(ServiceStopRequest onStop) {
    Service* s = current;
    if (!s) return;
    s->onStop.store(onStop);
    setStatus(*s, SERVICE_RUNNING, 0);
}

bool reportServiceMessage(const char* text, int code) {
    Service* s = current;
    if (!s) return false;
    if (s->outputIsLog) {
        writeLogLine(*s, text);
    } else {
        writeEvent(*s, text, code);
    }
    return true;
}

void serviceEndsWithProcess() {
    Service* s = current;
    if (s && s->stopRequested.load()) reportStopped(*s, 0, false);
}

}  // namespace kvx::platform
