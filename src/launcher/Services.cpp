#include "launcher/Services.h"

namespace kvx {

// No splash bitmap and no tray natives exist in this build: nothing was started, so
// nothing is to close or release.
void startSplashIfPresent() {}
void startTrayServices() {}
void splashAfterMain() {}
void splashAfterError() {}
void releaseAllTrayIcons() {}
void* splashOwnerWindow() { return nullptr; }

}  // namespace kvx
