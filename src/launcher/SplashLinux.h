#pragma once
// The Linux splash as the SplashScreen natives see it (Splash_posix.cpp).

namespace kvx {

// True while the splash shows, whoever closes it (java.awt.SplashScreen, AWT's first window).
bool linuxSplashShowing();
// Closes it after `delayMs`, or with a negative delay cancels a pending close; either way
// the launcher's own close after main no longer happens.
void linuxSplashAutoClose(int delayMs);
// Closes it now.
void linuxSplashClose();

}  // namespace kvx
