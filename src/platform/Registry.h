#pragma once
// Read-only access to HKEY_LOCAL_MACHINE. On Linux every open fails.

#include <cstdint>

namespace kvx::platform {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `path` under HKEY_LOCAL_MACHINE with KEY_READ.
    [[nodiscard]] bool openLocalMachine(const char* path);
    // Reads a value into `buffer` of `bufferSize` bytes (terminator included); the type is
    // ignored. False when missing or longer than the buffer. The text is zero-terminated.
    [[nodiscard]] bool readString(const char* name, char* buffer, uint32_t bufferSize) const;
    void close();

private:
    void* key_ = nullptr;
};

}  // namespace kvx::platform
