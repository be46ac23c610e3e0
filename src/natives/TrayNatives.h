#pragma once
// The tray and menu natives' work, called by the exported JNI entry points (natives/jni), the
// tray event window's two handlers, the shell version probe, the start of the tray services
// and their end (which launcher/Services.h declares for the entry point as well). None of
// these throws or reports to Java: a missing field or a failed platform call ends silently.

#include <jni.h>

#include <cstdint>

namespace kvx {

// Major version of the named library's DllGetVersion; 4 when it cannot be read.
uint32_t probeShellVersion(const char* libraryName);
// shell32.dll's, probed during static initialisation.
extern const uint32_t shellMajorVersion;

// Mouse handler: calls SystemTrayCallback.OnMouseClick with the icon's object, attached for
// this delivery only; notifications for an icon that is not shown are dropped.
void dispatchTrayMouse(uintptr_t iconId, intptr_t notification);
// Menu-command handler: calls SystemTrayCallback.OnMenuCommand with `command` - 50000.
void dispatchMenuCommand(uint32_t command);

// Taskbar-created handler: adds every shown icon to the new taskbar again, with its tooltip
// and without its balloon; an icon the shell refuses counts as not in the shell, so that the
// next Show tries again.
void readdTrayIcons();

// Starts the tray event window with the three handlers above, once, unless the icons were
// released already. Called by the first icon and the first popup: the window and its thread
// cost a start that shows no icon some 100 ms under Wine.
void startTrayServices();
// Removes every remaining icon, last created first, and frees the table; runs once. Called
// after the virtual machine is gone: the Java references are not touched. Waits at most 1 s
// for running deliveries; while one is stuck in the runtime, the runtime library stays loaded.
void releaseAllTrayIcons();
// Java ended the process (System.exit) and the entry point will not run again: removes every
// remaining icon, last created first, without waiting for deliveries (the caller of
// System.exit may be one) and without freeing anything. Later calls of either do nothing.
void removeTrayIconsAtVmExit();

// com.quorvane.kvx.SystemTray
void trayIconInit(JNIEnv* env, jobject self, jint icon, jstring tip, jstring info, jstring infoTitle,
                  jint infoType) noexcept;
void trayIconShow(JNIEnv* env, jobject self) noexcept;
void trayIconHide(JNIEnv* env, jobject self) noexcept;
void trayIconChange(JNIEnv* env, jobject self, jint icon, jstring tip, jstring info, jstring infoTitle,
                    jint infoType) noexcept;
void trayIconFinalize(JNIEnv* env, jobject self) noexcept;
void traySetCallback(JNIEnv* env, jobject callback) noexcept;

// com.quorvane.kvx.SystemTrayMenu
void trayMenuInit(JNIEnv* env, jobject self) noexcept;
void trayMenuAppendItem(JNIEnv* env, jobject self, jstring text, jint id) noexcept;
void trayMenuAppendSubmenu(JNIEnv* env, jobject self, jstring text, jobject submenu) noexcept;
void trayMenuAppendSeparator(JNIEnv* env, jobject self) noexcept;
void trayMenuPopup(JNIEnv* env, jobject self) noexcept;
void trayMenuFinalize(JNIEnv* env, jobject self) noexcept;

}  // namespace kvx
