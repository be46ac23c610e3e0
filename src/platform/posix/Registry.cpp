// Linux has no registry: every key is missing.
#include "platform/Registry.h"

namespace kvx::platform {

RegistryKey::~RegistryKey() { close(); }
bool RegistryKey::openLocalMachine(const char*) { return false; }
bool RegistryKey::open(RegistryHive, const char*) { return false; }
bool RegistryKey::readString(const char*, char*, uint32_t) const { return false; }
bool RegistryKey::subkeyName(uint32_t, AppString& name) const {
    name.setLength(0);
    return false;
}
void RegistryKey::close() { key_ = nullptr; }

}  // namespace kvx::platform
