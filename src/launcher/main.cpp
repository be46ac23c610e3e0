// The launcher's entry point: brings the subsystems up and down in a fixed order. The exit
// code tells scripts and installers how the launch went: 0, the failure code (a failed
// launch has shown its message already), or 1 after an exception out of main.

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "launcher/Launch.h"
#include "launcher/Services.h"
#include "launcher/SingleInstance.h"
#include "platform/ProgramArguments.h"

int main(int argc, char** argv) {
    using namespace kvx;
    int exitCode = 0;
    {
        ConfigStore store;
        WideStringList args;
        // Arguments cut short by exhausted memory never reach main: the launch stops at its
        // memory check before the runtime starts.
        if (!platform::programArguments(argc, argv, args)) args.clear();
        // A later start of a single-instance application hands over and ends before anything shows.
        int handedOver = handOverToRunningInstance(store, args);
        if (handedOver >= 0) return handedOver;

        startSplashIfPresent();
        JvmHost host;
        setCurrentConfigStore(&store);
        setCurrentJvmHost(&host);
        startTrayServices();
        exitCode = launch(args);

        host.unload();
        stopSingleInstance();
        releaseAllTrayIcons();
        setCurrentJvmHost(nullptr);
        setCurrentConfigStore(nullptr);
    }
    return exitCode;
}
