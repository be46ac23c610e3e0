#include "launcher/ServiceMode.h"

#include <atomic>

#include "base/Trace.h"
#include "platform/HostSystem.h"
#include "config/ConfigStore.h"
#include "config/EnvRefs.h"
#include "jre/JavaStop.h"

namespace kvx {

namespace {

// Set on the main thread before any thread that reads them exists.
AppString stopMethod;
std::atomic<JavaVM*> serviceVm{nullptr};
// Stop requests between reading serviceVm and leaving the runtime: the runtime's library
// stays loaded until they are done.
std::atomic<int> stopsInFlight{0};

struct FirstName {
    AppString name;
    bool found = false;
};

void takeServiceName(void* context, const char* value) {
    auto* first = static_cast<FirstName*>(context);
    // Service names never begin with "_": such a value is a service_log or service_stop line.
    if (first->found || value[0] == '_') return;
    first->name = AppString(value);
    first->found = true;
}

void stopJava() {
    stopsInFlight.fetch_add(1);
    // A runtime destroyed meanwhile refuses the attach; its library is still there to say so.
    requestJavaStop(serviceVm.load(), stopMethod.c_str());
    stopsInFlight.fetch_sub(1);
}

}  // namespace

AppString serviceNameOf(const ConfigStore& store) {
    FirstName first;
    store.find(AppString("service"), takeServiceName, &first);
    return first.name;
}

bool runAsServiceWhenStarted(const ConfigStore& store, platform::ServiceBody launchBody, int& exitCode) {
    // Read for every start: systemd's stop (SIGTERM) calls it too, without a service name.
    stopMethod = store.get(AppString("service_stop"));
    AppString name = serviceNameOf(store);
    if (name.isEmpty()) return false;
    AppString logPath = expandEnvRefs(store.get(AppString("service_log")));
    trace("service %s: asking the service manager", name.c_str());
    return platform::runAsService(name.c_str(), logPath.c_str(), launchBody, exitCode);
}

void serviceVmHook(JavaVM* vm) {
    serviceVm.store(vm);
    if (vm) {
        platform::reportServiceRunning(stopJava);
        return;
    }
    // The runtime is gone and its library goes next: a stop request still on its way in
    // finishes first. One that Java keeps for good (a daemon thread stopped at the exit) never
    // runs again, so the wait is bounded (2 s).
    for (int waited = 0; stopsInFlight.load() > 0 && waited < 2000; waited += 10) platform::sleepThread(10);
}

}  // namespace kvx
