// The Linux build has no notification area: no tray window exists and no icon ever
// exists, so there is nothing to release. On Windows both live with the tray natives
// (natives/TrayIcons.cpp).
#include "launcher/Services.h"

namespace kvx {

void releaseAllTrayIcons() {}
void removeTrayIconsAtVmExit() {}

}  // namespace kvx
