#pragma once
// TrayEventWindow: the hidden window, on a thread of its own, that owns the tray icons and
// the popup menus. The shell's icon notifications and the chosen menu commands arrive here
// and go to the two handlers given at start, on this window's thread.

#include <windows.h>

#include <cstdint>

namespace kvx {

constexpr UINT MENU_COMMAND_FIRST = 50000;
constexpr UINT MENU_COMMAND_LAST = 51000;
constexpr DWORD WINDOW_READY_TIMEOUT_MS = 30000;

// Receives (icon id, notification): the callback message's wParam and lParam, unchanged.
using TrayMouseHandler = void (*)(uintptr_t iconId, intptr_t notification);
// Receives the whole wParam of an accepted WM_COMMAND (50000..51000).
using MenuCommandHandler = void (*)(uint32_t command);
// Called when the shell announces a new taskbar (Explorer started or restarted): every icon
// it showed is gone.
using TaskbarCreatedHandler = void (*)();

class TrayEventWindow {
public:
    TrayEventWindow(TrayMouseHandler mouse, MenuCommandHandler command, TaskbarCreatedHandler taskbar = nullptr);
    virtual ~TrayEventWindow();
    TrayEventWindow(const TrayEventWindow&) = delete;
    TrayEventWindow& operator=(const TrayEventWindow&) = delete;

    // Creates the window on the calling thread; nonzero on success. Signals the ready event
    // whatever happened.
    virtual int initOnThread();

    HWND window() const { return window_; }
    MenuCommandHandler menuCommandHandler() const { return menuCommand_; }
    TrayMouseHandler mouseHandler() const { return mouse_; }
    TaskbarCreatedHandler taskbarCreatedHandler() const { return taskbar_; }
    HANDLE readyEvent() const { return ready_; }

private:
    MenuCommandHandler menuCommand_;
    TrayMouseHandler mouse_;
    TaskbarCreatedHandler taskbar_;
    HANDLE ready_;  // manual reset, closed by the destructor
    HWND window_ = nullptr;
};

// Starts the one window of the process and waits for it at most WINDOW_READY_TIMEOUT_MS.
// Returns the instance (it may already be gone when its window could not be created), or
// null when no thread could be started.
TrayEventWindow* startTrayEventWindow(TrayMouseHandler mouse, MenuCommandHandler command,
                                      TaskbarCreatedHandler taskbar = nullptr);

// The current window, or null when there is no instance or no window.
HWND trayEventWindowHandle();

// Shows a popup menu at the pointer on the window's thread, which owns it, and returns when the
// menu is dismissed, from whichever thread it is called; the chosen command reaches the menu
// command handler. Without a window the menu is shown on the calling thread with no owner.
void popupTrayMenu(HMENU menu);

}  // namespace kvx
