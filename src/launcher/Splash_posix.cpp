// The Linux launcher has no splash: it behaves as a Windows executable without bitmap 100.
#include "launcher/Services.h"

namespace kvx {

void startSplashIfPresent() {}
void splashAfterMain() {}
void splashAfterError() {}
void* splashOwnerWindow() { return nullptr; }

}  // namespace kvx
