// The launcher's entry point: brings the subsystems up and down in a fixed order. The exit
// code tells scripts and installers how the launch went: 0, the failure code (a failed
// launch has shown its message already), or 1 after an exception out of main.

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "launcher/Launch.h"
#include "launcher/Services.h"
#include "platform/ProgramArguments.h"

int main(int argc, char** argv) {
    using namespace kvx;
    startSplashIfPresent();
    int exitCode = 0;
    {
        ConfigStore store;
        JvmHost host;
        setCurrentConfigStore(&store);
        setCurrentJvmHost(&host);

        WideStringList args;
        // Arguments cut short by exhausted memory never reach main: the launch stops at its
        // memory check before the runtime starts.
        if (!platform::programArguments(argc, argv, args)) args.clear();
        exitCode = launch(args);

        host.unload();
        releaseAllTrayIcons();
        setCurrentJvmHost(nullptr);
        setCurrentConfigStore(nullptr);
    }
    return exitCode;
}
