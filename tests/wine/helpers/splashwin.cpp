// splashwin: watches the splash window ("KVXSPLASH") of another process and pokes it.
//
//   Both print ready=1 first, as soon as they run.
//
//   splashwin watch [--timeout-ms N] [--log PATH --marker TEXT]
//       Polls every 10 ms until a visible splash window has come and gone. Prints, as
//       "key=value" lines with times in ms since the helper started:
//         shown_ms, x, y, width, height, title    when the splash is first seen
//         marker_ms       when the file PATH first contains TEXT (a line the test JVM logs)
//         box_ms, box_closed_ms, splash_during_box   a message box of the process: when it
//                         appeared and went, and whether the splash was visible with it
//         box_owner_is_splash   1 when the box's owner window is the splash
//         gone_ms         when the splash is no longer visible
//       Exit 0 once the splash has gone, 1 on time-out (never shown: "never_shown=1").
//   splashwin poke [--timeout-ms N]
//       Waits for the splash, posts the messages of mouse clicks (client and non-client, all
//       three buttons) and of Alt+F4, waits 700 ms and prints survived=0|1; then posts a key
//       press (WM_KEYDOWN) and prints key_gone_ms, the time until the splash is no longer
//       visible. Exit 0 when it survived the clicks and went with the key, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

DWORD g_start = 0;
DWORD now() { return GetTickCount() - g_start; }

void field(const char* key, const std::string& value) {
    std::printf("%s=%s\n", key, value.c_str());
    std::fflush(stdout);
}
void field(const char* key, long value) { field(key, std::to_string(value)); }

struct FindWindow {
    const char* cls;
    HWND found;
};

BOOL CALLBACK considerWindow(HWND hwnd, LPARAM param) {
    auto& f = *reinterpret_cast<FindWindow*>(param);
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (std::strcmp(name, f.cls) == 0 && IsWindowVisible(hwnd)) {
        f.found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the class, of any process (each test runs one launcher).
HWND visibleOfClass(const char* cls) {
    FindWindow find{cls, nullptr};
    EnumWindows(considerWindow, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

std::string fileText(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

struct Options {
    std::string mode;
    DWORD timeoutMs = 30000;
    std::wstring log;
    std::string marker;
};

bool parse(Options& o) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return false;
    auto narrow = [](const wchar_t* w) {
        int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? n - 1 : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
        return s;
    };
    o.mode = narrow(argv[1]);
    bool ok = o.mode == "watch" || o.mode == "poke";
    for (int i = 2; i < argc && ok; ++i) {
        std::wstring a = argv[i];
        bool more = i + 1 < argc;
        if (a == L"--timeout-ms" && more) o.timeoutMs = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (a == L"--log" && more) o.log = argv[++i];
        else if (a == L"--marker" && more) o.marker = narrow(argv[++i]);
        else ok = false;
    }
    LocalFree(argv);
    return ok;
}

void describe(HWND splash) {
    RECT r{};
    GetWindowRect(splash, &r);
    char title[128] = {};
    GetWindowTextA(splash, title, sizeof title);
    field("x", r.left);
    field("y", r.top);
    field("width", r.right - r.left);
    field("height", r.bottom - r.top);
    field("title", title);
}

int watch(const Options& o) {
    bool shown = false;
    bool markerSeen = false;
    HWND box = nullptr;
    bool boxClosed = false;
    while (now() < o.timeoutMs) {
        HWND splash = visibleOfClass("KVXSPLASH");
        if (splash && !shown) {
            shown = true;
            field("shown_ms", now());
            describe(splash);
        }
        if (!markerSeen && !o.log.empty() && fileText(o.log).find(o.marker) != std::string::npos) {
            markerSeen = true;
            field("marker_ms", now());
        }
        HWND visibleBox = visibleOfClass("#32770");
        if (visibleBox && !box) {
            box = visibleBox;
            field("box_ms", now());
            field("splash_during_box", splash ? 1 : 0);
            field("box_owner_is_splash", splash && GetWindow(box, GW_OWNER) == splash ? 1 : 0);
        } else if (box && !visibleBox && !boxClosed) {
            boxClosed = true;
            field("box_closed_ms", now());
        }
        if (shown && !splash) {
            field("gone_ms", now());
            return 0;
        }
        Sleep(10);
    }
    if (!shown) field("never_shown", 1);
    field("timeout_ms", now());
    return 1;
}

int poke(const Options& o) {
    HWND splash = nullptr;
    while (!(splash = visibleOfClass("KVXSPLASH"))) {
        if (now() >= o.timeoutMs) {
            field("never_shown", 1);
            return 1;
        }
        Sleep(10);
    }
    field("shown_ms", now());
    const LPARAM inside = MAKELPARAM(20, 20);
    PostMessageA(splash, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    PostMessageA(splash, WM_LBUTTONUP, 0, inside);
    PostMessageA(splash, WM_RBUTTONDOWN, MK_RBUTTON, inside);
    PostMessageA(splash, WM_RBUTTONUP, 0, inside);
    PostMessageA(splash, WM_MBUTTONDOWN, MK_MBUTTON, inside);
    PostMessageA(splash, WM_MBUTTONUP, 0, inside);
    PostMessageA(splash, WM_NCLBUTTONDOWN, HTCAPTION, inside);
    PostMessageA(splash, WM_NCRBUTTONDOWN, HTCAPTION, inside);
    PostMessageA(splash, WM_NCMBUTTONDOWN, HTCAPTION, inside);
    // Alt+F4: the system key message with the Alt context bit (29) set.
    PostMessageA(splash, WM_SYSKEYDOWN, VK_F4, (1 << 29) | 1);
    PostMessageA(splash, WM_SYSKEYUP, VK_F4, (1 << 29) | (1u << 30) | (1u << 31) | 1);
    Sleep(700);
    bool survived = IsWindow(splash) && IsWindowVisible(splash);
    field("survived", survived ? 1 : 0);
    if (!survived) return 1;
    DWORD pressed = now();
    PostMessageA(splash, WM_KEYDOWN, VK_SPACE, 1);
    while (IsWindow(splash) && IsWindowVisible(splash)) {
        if (now() >= o.timeoutMs) {
            field("key_gone_ms", -1);
            return 1;
        }
        Sleep(10);
    }
    field("key_gone_ms", now() - pressed);
    return 0;
}

}  // namespace

int main() {
    g_start = GetTickCount();
    Options o;
    if (!parse(o)) {
        std::printf("usage: splashwin watch|poke [--timeout-ms N] [--log PATH --marker TEXT]\n");
        return 3;
    }
    // Tells the test that the helper runs, so that it can start the launcher without
    // counting on how long Wine takes to start a program.
    field("ready", 1);
    return o.mode == "watch" ? watch(o) : poke(o);
}
