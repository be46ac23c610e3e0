#pragma once
// The launch sequence: configuration → options → class path → runtime → version check →
// main class. Runs on a thread of its own (see mainThreadStackBytes); returns when the Java
// main has returned or the launch has failed (a failure has then been shown to the user).

#include <cstdint>

#include "base/AppString.h"
#include "base/LaunchError.h"
#include "base/WideStringList.h"

namespace kvx {

class ConfigStore;
class JvmHost;

// The launch as a result, without showing anything: the code and, for a version too low,
// the four numbers (running major, running minor, required major, required minor).
struct LaunchOutcome {
    LaunchError code = LAUNCH_OK;
    int runningMajor = 0;
    int runningMinor = 0;
    int requiredMajor = 0;
    int requiredMinor = 0;
    // Code 9: the runtime library skipped for its architecture, and its bits.
    AppString runtimePath;
    int runtimeBits = 0;
    // Code 13: the cache folder the kept jars could not be put in.
    AppString folder;
    // The launch succeeded and main ended with an exception.
    bool mainThrew = false;
};

// The process's exit code for an outcome: the failure code (1-9), else 1 when an exception
// was thrown out of main (as java does), else 0. System.exit(n) ends the process with n
// itself, inside the runtime.
int exitCodeOf(const LaunchOutcome& outcome);

LaunchOutcome runLaunchSteps(ConfigStore& store, JvmHost& host, const WideStringList& args);
// The whole launch: the steps above, then the failure message when one occurred. Returns
// the exit code for the process.
int launch(const WideStringList& args);

// The stack the thread that creates the runtime and runs main should reserve: what the last
// configured -Xss option asks for (the size java gives its main thread), at least 1 MiB for
// the launch's own work before it; 0 without one (the system's default for a new thread).
uint64_t mainThreadStackBytes(const ConfigStore& store);

}  // namespace kvx
