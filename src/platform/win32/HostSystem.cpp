#include "platform/HostSystem.h"

#include <windows.h>

namespace kvx::platform {

HostSystem hostSystem() { return sizeof(void*) == 8 ? HostSystem::Windows64 : HostSystem::Windows32; }

void yieldThread() { SwitchToThread(); }

void sleepThread(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace kvx::platform
