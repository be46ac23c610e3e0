#include "platform/Messages.h"

#include <windows.h>

namespace kvx::platform {

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
    MessageBoxA(static_cast<HWND>(owner), text ? text : "", caption ? caption : "", MB_OK | MB_ICONWARNING);
}

}  // namespace kvx::platform
