#include "platform/Registry.h"

#include <windows.h>

namespace kvx::platform {

RegistryKey::~RegistryKey() { close(); }

bool RegistryKey::openLocalMachine(const char* path) {
    close();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path ? path : "", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    key_ = key;
    return true;
}

bool RegistryKey::readString(const char* name, char* buffer, uint32_t bufferSize) const {
    if (!key_ || !buffer || bufferSize == 0) return false;
    DWORD size = bufferSize;
    if (RegQueryValueExA(static_cast<HKEY>(key_), name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                         &size) != ERROR_SUCCESS)
        return false;
    // Registry strings need not be terminated: terminate inside the buffer, or fail.
    if (size >= bufferSize && (size == 0 || buffer[size - 1] != '\0')) return false;
    buffer[size < bufferSize ? size : bufferSize - 1] = '\0';
    return true;
}

void RegistryKey::close() {
    if (key_) RegCloseKey(static_cast<HKEY>(key_));
    key_ = nullptr;
}

}  // namespace kvx::platform
