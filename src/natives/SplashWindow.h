#pragma once
// The splash: a bitmap centred on the screen, shown by a window that lives on a thread of its
// own while the launcher starts the Java runtime. Windows only.
//
// One splash per process at most. Every reader outside the splash thread reaches it through
// the process-wide reference, and only while holding the splash lock: the splash thread clears
// the reference under that same lock before it frees anything, so no reader ever touches a
// splash that is being freed. The lock is never held across a blocking call or a SendMessage
// to the splash thread; requests reach that thread as posted messages.

#include <cstdint>

namespace kvx {

constexpr int SPLASH_BITMAP_ID = 100;
constexpr const char* SPLASH_TITLE = "Please wait ...";
constexpr uint32_t WINDOW_READY_TIMEOUT_MS = 30000;
constexpr int32_t SPLASH_CLOSE_AFTER_MAIN_MS = 750;
constexpr int32_t SPLASH_CLOSE_AFTER_ERROR_MS = 100;

// True when `data` (`size` bytes, a bitmap resource: header, palette, pixels) describes a
// picture the loader can turn into a splash of a sane size. A broken or empty resource means
// no splash, never a crash or a huge allocation.
bool isUsableSplashBitmap(const void* data, uint32_t size);

// Starts the splash thread for `bitmap` (an HBITMAP, owned by the splash from here on, even
// when the start fails) and returns once its window exists or creation failed, or after
// WINDOW_READY_TIMEOUT_MS. `title` must outlive the process (a literal).
void startSplash(void* bitmap, const char* title);

// Loads bitmap resource SPLASH_BITMAP_ID of the executable and starts the splash with it.
// Without a usable resource there is no splash at all. True when a splash was started.
bool startSplashFromResource();

// The splash window (HWND), or null when there is no splash or no window (yet, or any more).
// Only good for calls that tolerate a window that has just gone (owner of a message box).
void* splashWindowHandle();

// Arms (delay >= 0), re-arms or cancels (delay < 0) the splash's close timer and records
// that a close was requested. Nothing happens without a splash window.
void setAutoClose(int32_t delay);

// Arms the close timer with `delay` unless a close was already requested. The check and the
// arming happen under one hold of the lock, so a Java thread's request is never overridden.
void setAutoCloseUnlessRequested(int32_t delay);

// True when setAutoClose found the splash window at least once; false without a splash.
bool autoCloseRequested();

// Posts WM_CLOSE to the splash window; nothing happens without one.
void requestSplashClose();

}  // namespace kvx
