#include "natives/SplashWindow.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

#include "platform/win32/SrwLockScope.h"

namespace kvx {

namespace {

constexpr const char* SPLASH_CLASS_NAME = "KVXSPLASH";
constexpr UINT_PTR SPLASH_TIMER_ID = 1;
// A private message that carries a close delay to the splash thread: timers are set by the
// thread that owns the window, whoever asked for them.
constexpr UINT SPLASH_SET_TIMER_MESSAGE = WM_APP + 1;
// No picture this large is a splash; a resource that claims more is treated as broken.
constexpr LONG MAX_SPLASH_SIDE = 16384;
// How long close() waits for the splash thread to destroy its window.
constexpr UINT SPLASH_CLOSE_WAIT_MS = 2000;

struct WindowHolder {
    HWND window = nullptr;
};

class SplashWindow {
public:
    SplashWindow(HBITMAP bitmap, const char* title)
        : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), bitmap_(bitmap), title_(title) {}
    virtual ~SplashWindow() {
        if (bitmap_) DeleteObject(bitmap_);
        delete holder_;
        if (ready_) CloseHandle(ready_);
    }
    SplashWindow(const SplashWindow&) = delete;
    SplashWindow& operator=(const SplashWindow&) = delete;

    // Creates the window on the calling thread; nonzero on success.
    virtual int initOnThread();

    HANDLE ready() const { return ready_; }
    HWND window() const { return holder_ ? holder_->window : nullptr; }
    HBITMAP bitmap() const { return bitmap_; }
    bool autoCloseRequested() const { return autoCloseRequested_ != 0; }
    void markAutoCloseRequested() { autoCloseRequested_ = 1; }
    void forgetWindow() {
        if (holder_) holder_->window = nullptr;
    }

private:
    HANDLE ready_;
    WindowHolder* holder_ = nullptr;
    HBITMAP bitmap_;
    const char* title_;
    int32_t autoCloseRequested_ = 0;
};

// The process-wide reference and the lock that guards it (and the splash it points at).
SRWLOCK g_splashLock = SRWLOCK_INIT;
SplashWindow* g_splash = nullptr;

void paintSplash(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    if (dc) {
        platform::SharedLockScope lock(g_splashLock);
        HBITMAP bitmap = g_splash ? g_splash->bitmap() : nullptr;
        HDC memory = bitmap ? CreateCompatibleDC(dc) : nullptr;
        if (memory) {
            HGDIOBJ previous = SelectObject(memory, bitmap);
            BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory, 0, 0, SRCCOPY);
            SelectObject(memory, previous);
            DeleteDC(memory);
        }
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
    case WM_PAINT:
        paintSplash(window);
        return 0;
    case WM_KEYDOWN:
    case WM_TIMER:
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    // Clicks leave the splash up; system keys (Alt+F4 among them) are swallowed.
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_SYSKEYDOWN:
        return 0;
    case WM_DESTROY: {
        // Gone for every caller from now on, not only once this thread has ended.
        platform::ExclusiveLockScope lock(g_splashLock);
        if (g_splash) g_splash->forgetWindow();
        PostQuitMessage(0);
        return 0;
    }
    case SPLASH_SET_TIMER_MESSAGE: {
        KillTimer(window, SPLASH_TIMER_ID);
        auto delay = static_cast<int32_t>(static_cast<uint32_t>(wParam));
        if (delay >= 0) SetTimer(window, SPLASH_TIMER_ID, static_cast<UINT>(delay), nullptr);
        return 0;
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int SplashWindow::initOnThread() {
    {
        platform::ExclusiveLockScope lock(g_splashLock);
        g_splash = this;
        holder_ = new (std::nothrow) WindowHolder;
    }
    int result = 0;
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    bool registered = GetClassInfoA(module, SPLASH_CLASS_NAME, &existing) != 0;
    if (!registered) {
        WNDCLASSA wc{};
        wc.style = 0;
        wc.lpfnWndProc = splashWindowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512) /* IDC_ARROW */);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        wc.lpszClassName = SPLASH_CLASS_NAME;
        registered = RegisterClassA(&wc) != 0;
    }
    BITMAP info{};
    if (registered && holder_ && GetObjectA(bitmap_, sizeof info, &info) == static_cast<int>(sizeof info)) {
        int screenWidth = GetSystemMetrics(SM_CXSCREEN);
        int screenHeight = GetSystemMetrics(SM_CYSCREEN);
        // Signed division truncating toward zero: a picture larger than the screen gets a
        // negative origin and overhangs it evenly.
        int x = (screenWidth - static_cast<int>(info.bmWidth)) / 2;
        int y = (screenHeight - static_cast<int>(info.bmHeight)) / 2;
        HWND window = CreateWindowExA(0, SPLASH_CLASS_NAME, title_, WS_POPUP | WS_VISIBLE, x, y, info.bmWidth,
                                      info.bmHeight, nullptr, nullptr, module, nullptr);
        if (window) {
            {
                platform::ExclusiveLockScope lock(g_splashLock);
                holder_->window = window;
            }
            ShowWindow(window, SW_SHOW);
            UpdateWindow(window);
            result = 1;
        }
    }
    SetEvent(ready_);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    return result;
}

DWORD WINAPI splashThreadMain(void* param) {
    auto* splash = static_cast<SplashWindow*>(param);
    if (splash->initOnThread()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    {
        platform::ExclusiveLockScope lock(g_splashLock);
        if (g_splash == splash) g_splash = nullptr;
    }
    Sleep(0);
    delete splash;
    return 0;
}

}  // namespace

bool isUsableSplashBitmap(const void* resource, uint32_t size) {
    const auto* data = static_cast<const unsigned char*>(resource);
    if (!data || size < sizeof(BITMAPCOREHEADER)) return false;
    DWORD headerSize = 0;
    std::memcpy(&headerSize, data, sizeof headerSize);
    LONG width = 0;
    LONG height = 0;
    WORD planes = 0;
    WORD bits = 0;
    DWORD compression = BI_RGB;
    if (headerSize == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core;
        std::memcpy(&core, data, sizeof core);
        width = core.bcWidth;
        height = core.bcHeight;
        planes = core.bcPlanes;
        bits = core.bcBitCount;
    } else if (headerSize >= sizeof(BITMAPINFOHEADER) && headerSize <= size) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, data, sizeof header);
        width = header.biWidth;
        height = header.biHeight;
        planes = header.biPlanes;
        bits = header.biBitCount;
        compression = header.biCompression;
    } else {
        return false;
    }
    if (height == LONG_MIN) return false;
    LONG rows = height < 0 ? -height : height;
    if (planes != 1 || width <= 0 || rows == 0 || width > MAX_SPLASH_SIDE || rows > MAX_SPLASH_SIDE) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (compression == BI_RGB) {
        // Uncompressed pixels must all be there (the palette is not counted: a lower bound).
        uint64_t rowBytes = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
        if (headerSize + rowBytes * static_cast<uint64_t>(rows) > size) return false;
    }
    return true;
}

namespace {

bool hasUsableBitmapResource(HMODULE module) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(SPLASH_BITMAP_ID), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (!found) return false;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data && isUsableSplashBitmap(data, size);
}

}  // namespace

void startSplash(void* bitmap, const char* title) {
    auto* splash = new (std::nothrow) SplashWindow(static_cast<HBITMAP>(bitmap), title);
    if (!splash) {
        DeleteObject(static_cast<HBITMAP>(bitmap));
        return;
    }
    // The splash thread closes its ready event when it ends, which may be before this wait
    // returns: wait on a handle of our own.
    HANDLE ready = nullptr;
    if (!splash->ready() || !DuplicateHandle(GetCurrentProcess(), splash->ready(), GetCurrentProcess(), &ready, 0,
                                             FALSE, DUPLICATE_SAME_ACCESS)) {
        delete splash;
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, splashThreadMain, splash, 0, nullptr);
    if (!thread) {
        delete splash;
        CloseHandle(ready);
        return;
    }
    CloseHandle(thread);  // never joined: the thread ends with its window or with the process
    WaitForSingleObject(ready, WINDOW_READY_TIMEOUT_MS);
    CloseHandle(ready);
}

bool startSplashFromResource() {
    HMODULE module = GetModuleHandleA(nullptr);
    if (!hasUsableBitmapResource(module)) return false;
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(SPLASH_BITMAP_ID));
    if (!bitmap) return false;
    startSplash(bitmap, SPLASH_TITLE);
    return true;
}

void* splashWindowHandle() {
    platform::SharedLockScope lock(g_splashLock);
    return g_splash ? g_splash->window() : nullptr;
}

namespace {

// With the lock held exclusively: records the request and hands the delay to the splash thread.
void armLocked(int32_t delay) {
    HWND window = g_splash ? g_splash->window() : nullptr;
    if (!window) return;
    g_splash->markAutoCloseRequested();
    PostMessageA(window, SPLASH_SET_TIMER_MESSAGE, static_cast<WPARAM>(static_cast<uint32_t>(delay)), 0);
}

}  // namespace

void setAutoClose(int32_t delay) {
    platform::ExclusiveLockScope lock(g_splashLock);
    armLocked(delay);
}

void setAutoCloseUnlessRequested(int32_t delay) {
    platform::ExclusiveLockScope lock(g_splashLock);
    if (g_splash && !g_splash->autoCloseRequested()) armLocked(delay);
}

bool autoCloseRequested() {
    platform::SharedLockScope lock(g_splashLock);
    // A splash whose window is gone has nothing left to close, whether or not its thread has ended.
    return g_splash && g_splash->window() && g_splash->autoCloseRequested();
}

void requestSplashClose() {
    HWND window = nullptr;
    {
        platform::SharedLockScope lock(g_splashLock);
        window = g_splash ? g_splash->window() : nullptr;
    }
    // Sent, not posted, and without the lock: when close() returns the window is gone, so the
    // next getSplashScreen() finds no splash. The wait is bounded for a splash thread that hangs.
    if (window) SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, SPLASH_CLOSE_WAIT_MS, nullptr);
}

}  // namespace kvx
