#pragma once
// The native services around a launch: the splash window and the tray icons. The tray's
// window starts with the first icon or popup menu (natives/TrayIcons.cpp).
// On Windows the splash is bitmap 100 (Splash_win32.cpp); on Linux it is the archive's picture,
// shown through the runtime's splash library once the runtime is found (Splash_posix.cpp).
// The tray exists on Windows only (natives/TrayIcons.cpp); the Linux build has none
// (Tray_posix.cpp).

namespace kvx {

// Shows the splash when the executable carries bitmap resource 100.
void startSplashIfPresent();
// Linux: shows the archive's splash picture through the splash library of the runtime whose
// libjvm is `jvmLibrary`. Windows: nothing.
void startRuntimeSplash(const char* jvmLibrary);
// Linux: registers the Java API's natives on its classes (JavaVM* `javaVm`). Windows: nothing,
// the classes load the executable as their library.
void registerJavaApiNatives(void* javaVm);
// After main returned: closes the splash 750 ms later unless Java took charge of it.
void splashAfterMain();
// After a failure message: closes the splash 100 ms later.
void splashAfterError();
// Removes every remaining tray icon; later calls do nothing.
void releaseAllTrayIcons();
// The same when Java ends the process itself (System.exit), from the runtime's thread.
void removeTrayIconsAtVmExit();
// The window that owns a launch-error message box: the splash window while one is on
// screen, otherwise none (null).
void* splashOwnerWindow();

}  // namespace kvx
