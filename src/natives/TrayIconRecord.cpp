#include "natives/TrayIconRecord.h"

#include <cstring>

#include "base/AnsiTextCut.h"

namespace kvx {

#if !defined(_WIN64)
static_assert(TRAY_RECORD_SIZE_TIP == 88 && TRAY_RECORD_SIZE_BALLOON == 488, "32-bit shell layouts");
#endif
static_assert(sizeof(NOTIFYICONDATAA) >= TRAY_RECORD_SIZE_BALLOON, "record holds the balloon layout");

namespace {

// Byte limits with the terminator: the tooltip's is 64 in both layouts (the balloon layout's
// field is larger, but the small layout ends after 64 bytes).
constexpr int32_t TIP_BYTES = 64;
constexpr int32_t INFO_BYTES = 256;
constexpr int32_t INFO_TITLE_BYTES = 64;
static_assert(sizeof(NOTIFYICONDATAA{}.szTip) >= TIP_BYTES && sizeof(NOTIFYICONDATAA{}.szInfo) >= INFO_BYTES &&
                  sizeof(NOTIFYICONDATAA{}.szInfoTitle) >= INFO_TITLE_BYTES,
              "fields hold their limits");

// A bounded copy that never ends inside a double-byte character; an absent text gives "".
void copyField(char* field, int32_t limit, const AppString* text) {
    if (!text) {
        field[0] = '\0';
        return;
    }
    copyAnsiFitting(field, limit, text->c_str(), text->length());
}

bool isInfoType(int32_t infoType) { return infoType >= NIIF_NONE && infoType <= NIIF_ERROR; }

}  // namespace

void fillTrayIconRecord(TrayIconRecord& record, uint32_t shellMajorVersion, HWND owner, UINT id,
                        HICON icon, const TrayIconTexts& texts, int32_t infoType) {
    std::memset(&record.data, 0, sizeof record.data);
    record.shown = 0;
    record.inShell = 0;
    NOTIFYICONDATAA& d = record.data;
    bool balloon = shellMajorVersion >= 5 && texts.info && texts.infoTitle;
    d.cbSize = balloon ? TRAY_RECORD_SIZE_BALLOON : TRAY_RECORD_SIZE_TIP;
    d.hWnd = owner;
    d.uID = id;
    d.uFlags = TRAY_RECORD_FLAGS;
    d.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    d.hIcon = icon;
    copyField(d.szTip, TIP_BYTES, texts.tip);
    if (texts.info) copyField(d.szInfo, INFO_BYTES, texts.info);
    if (texts.infoTitle) copyField(d.szInfoTitle, INFO_TITLE_BYTES, texts.infoTitle);
    d.dwInfoFlags = static_cast<DWORD>(isInfoType(infoType) ? infoType : NIIF_NONE);
}

bool changeTrayIconTexts(TrayIconRecord& record, const TrayIconTexts& texts, int32_t infoType) {
    NOTIFYICONDATAA& d = record.data;
    copyField(d.szTip, TIP_BYTES, texts.tip);
    if (texts.info) copyField(d.szInfo, INFO_BYTES, texts.info);
    if (texts.infoTitle) copyField(d.szInfoTitle, INFO_TITLE_BYTES, texts.infoTitle);
    if (isInfoType(infoType)) d.dwInfoFlags = static_cast<DWORD>(infoType);
    return texts.info || texts.infoTitle;
}

namespace {

// GetDpiForMonitor (shcore.dll, Windows 8.1 and later), loaded from the system folder once
// and kept; null where it does not exist.
using DpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
DpiForMonitorFn dpiForMonitorFunction() {
    static const DpiForMonitorFn function = [] {
        char path[MAX_PATH];
        UINT length = GetSystemDirectoryA(path, MAX_PATH);
        static const char NAME[] = "\\shcore.dll";
        if (length == 0 || length + sizeof NAME > MAX_PATH) return DpiForMonitorFn{nullptr};
        std::memcpy(path + length, NAME, sizeof NAME);
        HMODULE shcore = LoadLibraryA(path);
        return shcore ? reinterpret_cast<DpiForMonitorFn>(
                            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                      : DpiForMonitorFn{nullptr};
    }();
    return function;
}

// The small-icon size of the monitor that shows the notification area (the taskbar's, else the
// primary one). The manifest declares per-monitor DPI awareness, so GetSystemMetrics alone
// answers for the system's DPI; GetSystemMetricsForDpi exists from Windows 10 1607.
SIZE smallIconSize() {
    using MetricsForDpiFn = int(WINAPI*)(int, UINT);
    HMODULE user = GetModuleHandleA("user32.dll");
    auto metricsForDpi = user ? reinterpret_cast<MetricsForDpiFn>(
                                    reinterpret_cast<void*>(GetProcAddress(user, "GetSystemMetricsForDpi")))
                              : nullptr;
    UINT dpi = 0;
    UINT dpiY = 0;
    DpiForMonitorFn dpiForMonitor = metricsForDpi ? dpiForMonitorFunction() : nullptr;
    if (dpiForMonitor) {
        HMONITOR monitor = MonitorFromWindow(FindWindowA("Shell_TrayWnd", nullptr), MONITOR_DEFAULTTOPRIMARY);
        if (dpiForMonitor(monitor, 0 /* MDT_EFFECTIVE_DPI */, &dpi, &dpiY) != S_OK) dpi = 0;
    }
    SIZE size;
    size.cx = dpi ? metricsForDpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON);
    size.cy = dpi ? metricsForDpi(SM_CYSMICON, dpi) : GetSystemMetrics(SM_CYSMICON);
    if (size.cx <= 0 || size.cy <= 0) size.cx = size.cy = 16;
    return size;
}

}  // namespace

HICON loadTrayIcon(int32_t iconId) {
    WORD resource = static_cast<WORD>(iconId & 0xFFFF);
    SIZE size = smallIconSize();
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), IMAGE_ICON,
                                         size.cx, size.cy, LR_DEFAULTCOLOR));
}

}  // namespace kvx
