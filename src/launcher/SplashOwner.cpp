#include "launcher/SplashOwner.h"

namespace kvx {

// No splash window exists in this build yet, so a message box has no owner.
void* splashOwnerWindow() { return nullptr; }

}  // namespace kvx
