#pragma once
// TrayIconRecord: one notification-area icon as the shell sees it, plus whether it is in
// the notification area now. Built here from already converted texts, so the layout rules
// can be checked without a Java runtime.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

// The record sizes the shell is told: the layout up to the tooltip, and the layout with the
// balloon fields. 88 and 488 bytes on 32-bit Windows; the same layouts' sizes on 64-bit.
constexpr DWORD TRAY_RECORD_SIZE_TIP = NOTIFYICONDATAA_V1_SIZE;
constexpr DWORD TRAY_RECORD_SIZE_BALLOON = NOTIFYICONDATAA_V2_SIZE;
constexpr UINT TRAY_RECORD_FLAGS = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;  // 23
// A call that gives no balloon leaves NIF_INFO out: with it the shell shows the balloon again.
constexpr UINT TRAY_RECORD_FLAGS_NO_BALLOON = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
constexpr UINT TRAY_CALLBACK_MESSAGE = WM_USER + 100;                             // 1124

struct TrayIconRecord {
    NOTIFYICONDATAA data;  // only the first data.cbSize bytes are ever handed to the shell
    uint32_t shown = 0;    // 1 from Show to Hide (the table then holds the Java object)
    uint32_t inShell = 0;  // 1 while the shell has the icon: its last add succeeded
};

// Texts of one init or change; a null pointer is an absent text (a Java null).
struct TrayIconTexts {
    const AppString* tip = nullptr;
    const AppString* info = nullptr;
    const AppString* infoTitle = nullptr;
};

// Fills a fresh, hidden record. The balloon size is chosen only for a shell of major version
// 5 or more and when both balloon texts are present (an empty text counts); never changed later.
// An info type outside 0 (none) to 3 (error) is stored as 0.
void fillTrayIconRecord(TrayIconRecord& record, uint32_t shellMajorVersion, HWND owner, UINT id,
                        HICON icon, const TrayIconTexts& texts, int32_t infoType);

// The text part of a change: the tooltip always (absent clears it), the balloon text and
// title only when present, the info type when it is one (0 to 3). True when the change gives
// a balloon (a text or a title): only then does the shell get NIF_INFO.
bool changeTrayIconTexts(TrayIconRecord& record, const TrayIconTexts& texts, int32_t infoType);

// Loads icon resource `iconId` (its low 16 bits) of the executable at the system's small-icon
// size for the notification area's monitor (16 by 16 at 96 DPI); null on failure.
HICON loadTrayIcon(int32_t iconId);

}  // namespace kvx
