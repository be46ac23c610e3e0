#include "platform/Environment.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

extern char** environ;

namespace kvx::platform {

bool getEnv(const char* name, AppString& value) {
    value.setLength(0);
    if (!name || !*name || std::strchr(name, '=')) return false;
    if (const char* exact = std::getenv(name)) {
        value.append(exact);
        return true;
    }
    // Names compare without regard to case, as the launcher's configuration expects.
    size_t n = std::strlen(name);
    for (char** e = environ; e && *e; ++e) {
        if (strncasecmp(*e, name, n) == 0 && (*e)[n] == '=') {
            value.append(*e + n + 1);
            return true;
        }
    }
    return false;
}

bool setEnv(const char* name, const char* value) {
    if (!name || !*name) return false;
    return ::setenv(name, value ? value : "", 1) == 0;
}

bool unsetEnv(const char* name) {
    if (!name || !*name) return false;
    return ::unsetenv(name) == 0;
}

}  // namespace kvx::platform
