// Watching the shell's notification-area calls of the program under test. With
// KVX_TESTJVM_WATCH_SHELL set when this library is loaded, the main executable's import of
// shell32!Shell_NotifyIconA is redirected through a recorder that logs each call, then makes
// it. The record is what the shell is given, byte for byte where texts are concerned:
//
//   shell ADD|MODIFY|DELETE|other=N cb=BYTES id=N flags=N msg=N owner=CLASS icon=WxH#RRGGBB|none
//         tip=HEX [info=HEX title=HEX infoflags=N]      (balloon fields only with cb >= 488/504)
//   menu-track owner=CLASS|none same-thread=0|1   (a TrackPopupMenu call: is its owner window
//                                                  one of the calling thread's, as Windows asks)
//   shell-watch on | shell-watch no-import
//
// While watching, this library stays loaded to the end of the process.
//
// HEX is the text's ANSI bytes up to its terminator, so a cut inside a character shows.

#include "EventLog.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace testjvm {
namespace {

using NotifyFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);
NotifyFn g_realNotify = nullptr;
using TrackFn = BOOL(WINAPI*)(HMENU, UINT, int, int, int, HWND, const RECT*);
TrackFn g_realTrack = nullptr;

std::string hexText(const char* text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < limit && text[i]; ++i) out += format("%02x", static_cast<unsigned char>(text[i]));
    return out.empty() ? "-" : out;
}

std::string describeIcon(HICON icon) {
    if (!icon) return "none";
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return "invalid";
    std::string out = "?";
    BITMAP bm{};
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bm, &bm)) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = bm.bmWidth;
        bi.bmiHeader.biHeight = -bm.bmHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        std::string pixels(static_cast<size_t>(bm.bmWidth) * bm.bmHeight * 4, '\0');
        HDC dc = GetDC(nullptr);
        int rows = GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, &pixels[0], &bi, DIB_RGB_COLORS);
        ReleaseDC(nullptr, dc);
        size_t centre = (static_cast<size_t>(bm.bmHeight / 2) * bm.bmWidth + bm.bmWidth / 2) * 4;
        if (rows > 0) {
            out = format("%ldx%ld#%02x%02x%02x", bm.bmWidth, bm.bmHeight, static_cast<unsigned char>(pixels[centre + 2]),
                         static_cast<unsigned char>(pixels[centre + 1]), static_cast<unsigned char>(pixels[centre]));
        }
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return out;
}

BOOL WINAPI recordNotify(DWORD message, PNOTIFYICONDATAA data) {
    const char* names[] = {"ADD", "MODIFY", "DELETE"};
    std::string line = message < 3 ? std::string("shell ") + names[message] : format("shell other=%lu", message);
    if (data) {
        char owner[64] = "none";
        if (data->hWnd && !GetClassNameA(data->hWnd, owner, sizeof owner)) std::strcpy(owner, "invalid");
        line += format(" cb=%lu id=%u flags=%u msg=%u owner=%s icon=%s tip=%s", data->cbSize, data->uID, data->uFlags,
                       data->uCallbackMessage, owner, describeIcon(data->hIcon).c_str(),
                       hexText(data->szTip, 64).c_str());
        if (data->cbSize >= NOTIFYICONDATAA_V2_SIZE) {
            line += format(" info=%s title=%s infoflags=%ld", hexText(data->szInfo, 256).c_str(),
                           hexText(data->szInfoTitle, 64).c_str(), static_cast<long>(data->dwInfoFlags));
        }
    }
    EventLog::instance().line(line);
    return g_realNotify ? g_realNotify(message, data) : FALSE;
}

BOOL WINAPI recordTrack(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect) {
    char name[64] = "none";
    if (owner && !GetClassNameA(owner, name, sizeof name)) std::strcpy(name, "invalid");
    bool same = owner && GetWindowThreadProcessId(owner, nullptr) == GetCurrentThreadId();
    EventLog::instance().line(format("menu-track owner=%s same-thread=%d", name, same ? 1 : 0));
    return g_realTrack ? g_realTrack(menu, flags, x, y, reserved, owner, rect) : FALSE;
}

// Points the main executable's import of `function` from `library` at `replacement`; the
// real address goes to `real`.
bool redirectImport(const char* library, const char* function, void* replacement, void** real) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    HMODULE shell = GetModuleHandleA(library);
    if (!base || !shell) return false;
    void* target = reinterpret_cast<void*>(GetProcAddress(shell, function));
    if (!target) return false;
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return false;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), library) != 0) continue;
        for (auto* slot = reinterpret_cast<void**>(base + d->FirstThunk); *slot; ++slot) {
            if (*slot != target) continue;
            DWORD old;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
            *real = target;
            *slot = replacement;
            VirtualProtect(slot, sizeof *slot, old, &old);
            return true;
        }
    }
    return false;
}

struct WatchAtLoad {
    WatchAtLoad() {
        char value[8];
        if (!GetEnvironmentVariableA("KVX_TESTJVM_WATCH_SHELL", value, sizeof value)) return;
        void* notify = nullptr;
        void* track = nullptr;
        bool on = redirectImport("shell32.dll", "Shell_NotifyIconA", reinterpret_cast<void*>(&recordNotify), &notify);
        g_realNotify = reinterpret_cast<NotifyFn>(notify);
        if (on && redirectImport("user32.dll", "TrackPopupMenu", reinterpret_cast<void*>(&recordTrack), &track)) {
            g_realTrack = reinterpret_cast<TrackFn>(track);
        }
        // The launcher frees the runtime before it removes its last icons: the recorder must
        // stay, so this library is then never unloaded (and logs no "unload").
        HMODULE self = nullptr;
        if (on) {
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCSTR>(&recordNotify), &self);
        }
        EventLog::instance().line(on ? "shell-watch on" : "shell-watch no-import");
    }
} g_watchAtLoad;

}  // namespace
}  // namespace testjvm
