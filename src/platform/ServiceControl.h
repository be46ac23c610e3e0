#pragma once
// The service manager around a launch. Windows: the service control manager starts the
// executable; the main thread registers with it and the ordinary launch runs on the
// service's thread, which reports its progress; stop and shutdown requests arrive on the
// main thread. Linux: systemd's notify socket (NOTIFY_SOCKET, Type=notify) and SIGTERM.
// Outside a service every call here does nothing.

namespace kvx::platform {

// The whole launch, run as the service; returns the process's exit code.
using ServiceBody = int (*)();
// A stop was requested: asks Java to end. Runs once, on a thread of its own that Java may
// keep for good (nothing waits for it without a limit).
using ServiceStopRequest = void (*)();

// How long a stop may take, counted from the request, before the process is ended anyway.
constexpr unsigned STOP_TIMEOUT_MS = 15000;
// The service's exit code when that happened: ERROR_PROCESS_ABORTED, also the process's.
constexpr int STOP_TIMEOUT_EXIT_CODE = 1067;

// Windows: when the service manager started this process, runs `body` as the service `name`
// on the service's thread, with its standard output and error in the file `logPath`
// (appended, created when missing; nowhere when empty), and returns true with the exit
// code once it has stopped. False at once when anything else started the process: it then
// runs as an application. Linux: always false.
bool runAsService(const char* name, const char* logPath, ServiceBody body, int& exitCode);

// The launch goes on (the runtime was found, was created): the next checkpoint of "start
// pending", so the manager sees progress.
void reportServiceProgress();
// Java's main is being called: Windows reports "running" and from now on answers stop and
// shutdown with "stop pending" and `onStop`; Linux, when NOTIFY_SOCKET is set, sends READY=1
// and from now on answers SIGTERM with STOPPING=1 and `onStop`.
void reportServiceRunning(ServiceStopRequest onStop);
// A launch failure's message where a service keeps them: one line in the service's log file,
// else the Windows event log, under the service's name with `code` as the event's id. False
// when this process is no service (the caller shows the message as usual).
bool reportServiceMessage(const char* text, int code);
// The runtime is ending the process itself (System.exit): after a stop request this is the
// stop's end, reported as "stopped" now; otherwise nothing is reported and the manager sees
// the service end unexpectedly (its recovery actions apply).
void serviceEndsWithProcess();

}  // namespace kvx::platform
