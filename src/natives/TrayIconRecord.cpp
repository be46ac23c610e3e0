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

HICON loadTrayIcon(int32_t iconId) {
    WORD resource = static_cast<WORD>(iconId & 0xFFFF);
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource),
                                         IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
}

}  // namespace kvx
