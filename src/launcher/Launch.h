#pragma once
// The launch sequence: configuration → options → class path → runtime → version check →
// main class. Runs on the main thread; returns when the Java main has returned or the
// launch has failed (a failure has then been shown to the user).

#include <cstdint>

#include "base/LaunchError.h"

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
};

LaunchOutcome runLaunchSteps(ConfigStore& store, JvmHost& host, int argCount, const char* const* args);
// The whole launch: the steps above, then the failure message when one occurred.
void launch(int argCount, const char* const* args);

}  // namespace kvx
