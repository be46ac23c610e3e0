#include "platform/Environment.h"

#include <windows.h>

namespace kvx::platform {

bool getEnv(const char* name, AppString& value) {
    value.setLength(0);
    if (!name || !*name) return false;
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        // A variable set to empty text answers 0 without ERROR_ENVVAR_NOT_FOUND.
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    // The value may change between the calls; retry until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        value.setLength(static_cast<int32_t>(needed));
        if (value.length() != static_cast<int32_t>(needed)) return false;
        DWORD got = GetEnvironmentVariableA(name, value.data(), needed);
        if (got < needed) {
            value.setLength(static_cast<int32_t>(got));
            return got > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        }
        needed = got;
    }
    value.setLength(0);
    return false;
}

bool setEnv(const char* name, const char* value) {
    if (!name || !*name) return false;
    return SetEnvironmentVariableA(name, value ? value : "") != 0;
}

bool unsetEnv(const char* name) {
    if (!name || !*name) return false;
    return SetEnvironmentVariableA(name, nullptr) != 0;
}

}  // namespace kvx::platform
