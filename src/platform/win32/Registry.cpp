#include "platform/Registry.h"

#include <windows.h>

namespace kvx::platform {

namespace {
// Registry key names are at most 255 characters.
constexpr DWORD MAX_KEY_NAME = 256;
}  // namespace

RegistryKey::~RegistryKey() { close(); }

bool RegistryKey::openLocalMachine(const char* path) { return open(RegistryHive::LocalMachine, path); }

bool RegistryKey::open(RegistryHive hive, const char* path) {
    close();
    HKEY root = hive == RegistryHive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path ? path : "", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    key_ = key;
    return true;
}

bool RegistryKey::readString(const char* name, char* buffer, uint32_t bufferSize) const {
    if (!key_ || !buffer || bufferSize == 0) return false;
    DWORD size = bufferSize;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(static_cast<HKEY>(key_), name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    // Registry strings need not be terminated: terminate inside the buffer, or fail.
    if (size >= bufferSize && (size == 0 || buffer[size - 1] != '\0')) return false;
    buffer[size < bufferSize ? size : bufferSize - 1] = '\0';
    if (type != REG_EXPAND_SZ) return true;
    // "%ProgramFiles%\..." as installers write it; the expanded text must fit the same buffer.
    AppString unexpanded(buffer);
    DWORD needed = ExpandEnvironmentStringsA(unexpanded.c_str(), buffer, bufferSize);
    return needed != 0 && needed <= bufferSize;
}

bool RegistryKey::subkeyName(uint32_t index, AppString& name) const {
    name.setLength(0);
    if (!key_) return false;
    char buffer[MAX_KEY_NAME];
    DWORD length = MAX_KEY_NAME;
    if (RegEnumKeyExA(static_cast<HKEY>(key_), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    name.append(buffer, static_cast<int32_t>(length));
    return true;
}

void RegistryKey::close() {
    if (key_) RegCloseKey(static_cast<HKEY>(key_));
    key_ = nullptr;
}

}  // namespace kvx::platform
