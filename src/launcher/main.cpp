// The launcher's entry point: brings the subsystems up and down in a fixed order. The
// exit code is 0 whatever happened; a failed launch has shown its message already.

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "launcher/Launch.h"
#include "launcher/Services.h"

int main(int argc, char** argv) {
    using namespace kvx;
    startSplashIfPresent();
    {
        ConfigStore store;
        JvmHost host;
        setCurrentConfigStore(&store);
        setCurrentJvmHost(&host);
        startTrayServices();

        launch(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);

        host.unload();
        releaseAllTrayIcons();
        setCurrentJvmHost(nullptr);
        setCurrentConfigStore(nullptr);
    }
    return 0;
}
