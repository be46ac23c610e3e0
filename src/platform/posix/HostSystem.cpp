#include "platform/HostSystem.h"

#include <sched.h>

namespace kvx::platform {

HostSystem hostSystem() { return HostSystem::Linux; }

void yieldThread() { sched_yield(); }

}  // namespace kvx::platform
