#include "launcher/Services.h"

namespace kvx {

// No splash bitmap and no tray natives exist in this build: nothing was started, so
// nothing is to close or release.
void startSplashIfPresent() {}
void splashAfterMain() {}
void splashAfterError() {}
void* splashOwnerWindow() { return nullptr; }

#if !defined(_WIN32)
// The Linux build has no notification area: no tray window is started, no icon exists. On
// Windows both live with the tray natives (natives/SystemTray.cpp).
void startTrayServices() {}
void releaseAllTrayIcons() {}
#endif

}  // namespace kvx
