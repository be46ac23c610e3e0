// The launcher's entry point: brings the subsystems up and down in a fixed order. The exit
// code tells scripts and installers how the launch went: 0, the failure code (a failed
// launch has shown its message already), or 1 after an exception out of main.

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "launcher/Launch.h"
#include "launcher/Services.h"

int main(int argc, char** argv) {
    using namespace kvx;
    startSplashIfPresent();
    int exitCode = 0;
    {
        ConfigStore store;
        JvmHost host;
        setCurrentConfigStore(&store);
        setCurrentJvmHost(&host);
        startTrayServices();

        exitCode = launch(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);

        host.unload();
        releaseAllTrayIcons();
        setCurrentJvmHost(nullptr);
        setCurrentConfigStore(nullptr);
    }
    return exitCode;
}
