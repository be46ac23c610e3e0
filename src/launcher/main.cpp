// The launcher's entry point: brings the subsystems up and down in a fixed order. The exit
// code tells scripts and installers how the launch went: 0, the failure code (a failed
// launch has shown its message already), or 1 after an exception out of main.

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "launcher/Launch.h"
#include "launcher/ServiceMode.h"
#include "launcher/Services.h"
#include "launcher/SingleInstance.h"
#include "platform/HostSystem.h"
#include "platform/ProgramArguments.h"

namespace {

int argumentCount = 0;
char** argumentValues = nullptr;

// The runtime is created, runs main and is destroyed on one thread of ours, never the
// process's first: as java does, so that -Xss holds for main, and because a runtime made on
// the first thread starts measurably slower under Wine (0.2-0.3 s for JDK 21 and 25).
int launchAndUnload(void* args) {
    const int exitCode = kvx::launch(*static_cast<const kvx::WideStringList*>(args));
    if (kvx::JvmHost* host = kvx::currentJvmHost()) host->unload();
    return exitCode;
}

// The launch with the native services around it. A service shows no splash: it has no
// desktop anyone looks at.
int launchWithServices(bool asService) {
    using namespace kvx;
    int exitCode = 0;
    {
        WideStringList args;
        // Arguments cut short by exhausted memory never reach main: the launch stops at its
        // memory check before the runtime starts.
        if (!platform::programArguments(argumentCount, argumentValues, args)) args.clear();
        if (!asService) {
            // A later start of a single-instance application hands over and ends before anything shows.
            int handedOver = handOverToRunningInstance(*currentConfigStore(), args);
            if (handedOver >= 0) return handedOver;
            startSplashIfPresent();
        }
        JvmHost host;
        setCurrentJvmHost(&host);
        host.setVmHook(serviceVmHook);
        exitCode = platform::runOnOwnThread(launchAndUnload, &args, mainThreadStackBytes(*currentConfigStore()));

        stopSingleInstance();
        releaseAllTrayIcons();
        setCurrentJvmHost(nullptr);
    }
    return exitCode;
}

int launchAsService() { return launchWithServices(true); }

}  // namespace

int main(int argc, char** argv) {
    using namespace kvx;
    argumentCount = argc;
    argumentValues = argv;
    int exitCode = 0;
    {
        // First, before the splash: the configuration decides whether this is a service start.
        ConfigStore store;
        setCurrentConfigStore(&store);
        if (!runAsServiceWhenStarted(store, launchAsService, exitCode)) exitCode = launchWithServices(false);
        setCurrentConfigStore(nullptr);
    }
    return exitCode;
}
