#include "platform/HostSystem.h"

namespace kvx::platform {

HostSystem hostSystem() { return HostSystem::Linux; }

}  // namespace kvx::platform
