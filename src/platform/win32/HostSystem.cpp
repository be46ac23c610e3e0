#include "platform/HostSystem.h"

namespace kvx::platform {

HostSystem hostSystem() { return sizeof(void*) == 8 ? HostSystem::Windows64 : HostSystem::Windows32; }

}  // namespace kvx::platform
