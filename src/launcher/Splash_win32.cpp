// The launcher's use of the splash on Windows.
#include "launcher/Services.h"
#include "natives/SplashWindow.h"

namespace kvx {

void startSplashIfPresent() { (void)startSplashFromResource(); }

void splashAfterMain() { setAutoCloseUnlessRequested(SPLASH_CLOSE_AFTER_MAIN_MS); }

void splashAfterError() { setAutoClose(SPLASH_CLOSE_AFTER_ERROR_MS); }

void* splashOwnerWindow() { return splashWindowHandle(); }

}  // namespace kvx
