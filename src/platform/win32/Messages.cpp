#include "platform/Messages.h"

#include <windows.h>
#include <shellapi.h>

#include "base/AppString.h"
#include "base/AppWideString.h"

namespace kvx::platform {

namespace {

// True for a console-subsystem program (kvxc.exe): it is started from terminals and build
// servers, where no one may see a box (or no desktop exists to show one on).
bool isConsoleProgram() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

// One line on standard error: through the console's wide API when it is a console (whose
// code page may differ from the ANSI one), else the ANSI bytes as they are.
void writeErrorLine(const char* text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(error, &mode)) {
        AppWideString units;
        units.assignNarrow(text);
        static const wchar_t NEWLINE[] = L"\r\n";
        if (units.length() > 0) {
            WriteConsoleW(error, units.data(), static_cast<DWORD>(units.length()), &written, nullptr);
        }
        WriteConsoleW(error, NEWLINE, 2, &written, nullptr);
        return;
    }
    AppString line(text);
    line.append("\r\n");
    WriteFile(error, line.c_str(), static_cast<DWORD>(line.length()), &written, nullptr);
}

}  // namespace

bool findStringBlock(uint32_t blockId, StringBlock& block) {
    block = StringBlock{};
    if (blockId == 0 || blockId > 0xFFFF) return false;
    HMODULE self = GetModuleHandleA(nullptr);
    // No language is named: the resource loader picks the variant for the user's interface
    // language, with its own fallbacks.
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(blockId), MAKEINTRESOURCEA(6) /* RT_STRING */);
    if (!found) return false;
    // A loaded resource lives as long as the module; there is nothing to release.
    HGLOBAL loaded = LoadResource(self, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(self, found);
    if (!data) return false;
    block.units = static_cast<const uint16_t*>(data);
    block.count = size / 2;
    return true;
}

void showWarning(const char* text, const char* caption, void* owner) {
    if (isConsoleProgram()) writeErrorLine(text ? text : "");
    MessageBoxA(static_cast<HWND>(owner), text ? text : "", caption ? caption : "", MB_OK | MB_ICONWARNING);
}

bool offerAddress(const char* text, const char* where, const char* question, const char* caption,
                  const char* url, void* owner) {
    if (isConsoleProgram()) {
        writeErrorLine(text ? text : "");
        writeErrorLine(where ? where : "");
    }
    AppString body(text ? text : "");
    body.append("\n\n");
    body.append(where ? where : "");
    body.append("\n");
    body.append(question ? question : "");
    if (MessageBoxA(static_cast<HWND>(owner), body.c_str(), caption ? caption : "", MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    AppWideString address;
    address.assignNarrow(url ? url : "");
    // Values above 32 mean success; the shell picks the user's browser for the scheme.
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(static_cast<HWND>(owner), L"open",
                                                          reinterpret_cast<const wchar_t*>(address.data()), nullptr,
                                                          nullptr, SW_SHOWNORMAL));
    return result > 32;
}

}  // namespace kvx::platform
