#include "launcher/Services.h"

namespace kvx {

// No tray natives exist in this build yet: nothing was started, so nothing is to release.
void startTrayServices() {}
void releaseAllTrayIcons() {}

}  // namespace kvx
