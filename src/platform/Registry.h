#pragma once
// Read-only access to the registry, in the process's own registry view. On Linux every
// open fails.

#include <cstdint>

#include "base/AppString.h"

namespace kvx::platform {

// The two hives runtimes register under: machine-wide installs and per-user installs.
enum class RegistryHive { LocalMachine, CurrentUser };

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `path` under HKEY_LOCAL_MACHINE with KEY_READ.
    [[nodiscard]] bool openLocalMachine(const char* path);
    // Opens `path` under `hive` with KEY_READ.
    [[nodiscard]] bool open(RegistryHive hive, const char* path);
    // Reads a value into `buffer` of `bufferSize` bytes (terminator included); a REG_EXPAND_SZ
    // value comes with its %NAME% references expanded, any other type as stored. False when
    // missing or longer than the buffer (expanded). The text is zero-terminated.
    [[nodiscard]] bool readString(const char* name, char* buffer, uint32_t bufferSize) const;
    // The name of sub-key `index` (0, 1, ...); false past the last one.
    [[nodiscard]] bool subkeyName(uint32_t index, AppString& name) const;
    void close();

private:
    void* key_ = nullptr;
};

}  // namespace kvx::platform
