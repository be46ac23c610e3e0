#include "natives/TrayEventWindow.h"

#include <new>

#include "platform/win32/SrwLockScope.h"

namespace kvx {

namespace {

constexpr char WINDOW_CLASS[] = "KVXMESSAGE";
constexpr UINT TRAY_MESSAGE = WM_USER + 100;  // 1124, named by every icon record
// Sent (not posted) by popupTrayMenu with the menu in wParam: the popup runs on this thread.
constexpr UINT POPUP_MESSAGE = WM_APP + 1;

// The shell's "TaskbarCreated" message, registered by the window thread before its window
// exists and read only on that thread.
UINT g_taskbarCreated = 0;

// The process-wide instance. Java threads read its window while the window thread may clear
// it and free the instance, so every access holds this lock (never while a handler runs).
SRWLOCK g_windowLock = SRWLOCK_INIT;
TrayEventWindow* g_current = nullptr;

TrayEventWindow* currentLocked() {
    platform::SharedLockScope lock(g_windowLock);
    return g_current;
}

// Clears the process-wide reference when it still designates `window` (or any, for null).
void clearCurrent(TrayEventWindow* window) {
    platform::ExclusiveLockScope lock(g_windowLock);
    if (!window || g_current == window) g_current = nullptr;
}

// Shows `menu` at the pointer until it is dismissed. Windows wants the owner window to be one
// of the calling thread's; without an owner no command is delivered.
void trackAtPointer(HMENU menu, HWND owner) {
    POINT at{};
    GetCursorPos(&at);
    // The owner must be in the foreground, or the menu does not close when the user clicks
    // elsewhere; the posted WM_NULL lets the owner's thread finish the menu's mode.
    if (owner) SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    if (owner) PostMessageA(owner, WM_NULL, 0, 0);
}

LRESULT CALLBACK trayWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case POPUP_MESSAGE:
            trackAtPointer(reinterpret_cast<HMENU>(wParam), hwnd);
            return 0;
        case WM_DESTROY:
            clearCurrent(nullptr);
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND: {
            // Only this thread frees the instance, so reading its handler after the check is safe.
            TrayEventWindow* current = currentLocked();
            // The whole wParam is compared: an accelerator or control notification (nonzero
            // high word) with an id in range is not a menu command of ours.
            if (current && wParam >= MENU_COMMAND_FIRST && wParam <= MENU_COMMAND_LAST) {
                if (MenuCommandHandler handler = current->menuCommandHandler()) {
                    handler(static_cast<uint32_t>(wParam));
                }
            }
            return 0;
        }
        case TRAY_MESSAGE: {
            TrayEventWindow* current = currentLocked();
            if (current) {
                if (TrayMouseHandler handler = current->mouseHandler()) {
                    handler(static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam));
                }
            }
            return 0;
        }
        default:
            if (message != 0 && message == g_taskbarCreated) {
                TrayEventWindow* current = currentLocked();
                if (current) {
                    if (TaskbarCreatedHandler handler = current->taskbarCreatedHandler()) handler();
                }
                return 0;
            }
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// An elevated process gets the shell's broadcast only when its window lets it through
// (Windows 7 and later; looked up, as the launcher runs on older systems too).
void allowTaskbarCreated(HWND window) {
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto filter = user ? reinterpret_cast<FilterFn>(
                             reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilterEx")))
                       : nullptr;
    if (filter && g_taskbarCreated) filter(window, g_taskbarCreated, 1 /* MSGFLT_ALLOW */, nullptr);
}

DWORD WINAPI trayThreadBody(void* argument) {
    auto* window = static_cast<TrayEventWindow*>(argument);
    if (window->initOnThread()) {
        MSG msg;
        // GetMessage yields -1 on an invalid call; treat it as the end as well.
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    clearCurrent(window);
    delete window;
    return 0;
}

}  // namespace

TrayEventWindow::TrayEventWindow(TrayMouseHandler mouse, MenuCommandHandler command, TaskbarCreatedHandler taskbar)
    : menuCommand_(command), mouse_(mouse), taskbar_(taskbar), ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TrayEventWindow::~TrayEventWindow() {
    if (ready_) CloseHandle(ready_);
}

int TrayEventWindow::initOnThread() {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.style = 0;
    wc.lpfnWndProc = trayWindowProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = WINDOW_CLASS;
    int result = 0;
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    if (RegisterClassA(&wc)) {
        HWND created = CreateWindowExA(0, WINDOW_CLASS, WINDOW_CLASS, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                       0, 100, 0, nullptr, nullptr, module, nullptr);
        if (created) {
            ShowWindow(created, SW_HIDE);
            UpdateWindow(created);
            allowTaskbarCreated(created);
            {
                platform::ExclusiveLockScope lock(g_windowLock);  // Java threads read it under this lock
                window_ = created;
            }
            result = 1;
        }
    }
    if (ready_) SetEvent(ready_);
    return result;
}

TrayEventWindow* startTrayEventWindow(TrayMouseHandler mouse, MenuCommandHandler command,
                                      TaskbarCreatedHandler taskbar) {
    auto* window = new (std::nothrow) TrayEventWindow(mouse, command, taskbar);
    if (!window) return nullptr;
    {
        platform::ExclusiveLockScope lock(g_windowLock);
        g_current = window;
    }
    HANDLE ready = window->readyEvent();
    // Duplicated so the wait stays valid even if the thread ends and frees the instance first.
    HANDLE waitable = nullptr;
    if (ready) {
        DuplicateHandle(GetCurrentProcess(), ready, GetCurrentProcess(), &waitable, SYNCHRONIZE, FALSE, 0);
    }
    HANDLE thread = CreateThread(nullptr, 0, trayThreadBody, window, 0, nullptr);
    if (!thread) {
        clearCurrent(window);
        delete window;
        if (waitable) CloseHandle(waitable);
        return nullptr;
    }
    CloseHandle(thread);  // never joined: it ends with the process
    if (waitable) {
        WaitForSingleObject(waitable, WINDOW_READY_TIMEOUT_MS);
        CloseHandle(waitable);
    }
    return window;
}

HWND trayEventWindowHandle() {
    platform::SharedLockScope lock(g_windowLock);
    return g_current ? g_current->window() : nullptr;
}

void popupTrayMenu(HMENU menu) {
    HWND owner = trayEventWindowHandle();
    if (!owner) {
        trackAtPointer(menu, nullptr);
        return;
    }
    // Returns once the menu is dismissed; from the window's own thread (inside a callback) the
    // window procedure is called directly.
    SendMessageA(owner, POPUP_MESSAGE, reinterpret_cast<WPARAM>(menu), 0);
}

}  // namespace kvx
