#include "platform/HostSystem.h"

#include <windows.h>

#include "platform/win32/ScopedHandle.h"

namespace kvx::platform {

namespace {

struct ThreadCall {
    int (*body)(void*);
    void* context;
    int result;
};

DWORD WINAPI callBody(void* parameter) {
    auto* call = static_cast<ThreadCall*>(parameter);
    call->result = call->body(call->context);
    return 0;
}

}  // namespace

HostSystem hostSystem() { return sizeof(void*) == 8 ? HostSystem::Windows64 : HostSystem::Windows32; }

void yieldThread() { SwitchToThread(); }

void sleepThread(unsigned milliseconds) { Sleep(milliseconds); }

int runOnOwnThread(int (*body)(void*), void* context, uint64_t stackBytes) {
    ThreadCall call{body, context, 0};
    const SIZE_T reserve = stackBytes > (~SIZE_T{0} >> 1) ? 0 : static_cast<SIZE_T>(stackBytes);
    ScopedHandle thread(CreateThread(nullptr, reserve, callBody, &call, reserve ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0,
                                     nullptr));
    if (!thread) return body(context);
    WaitForSingleObject(thread.get(), INFINITE);
    return call.result;
}

}  // namespace kvx::platform
