#include "config/EnvRefs.h"

#include <cstring>

#include "platform/Environment.h"

namespace kvx {

namespace {

int32_t findPercent(const char* text, int32_t from, int32_t length) {
    if (from >= length) return -1;
    const void* hit = std::memchr(text + from, '%', static_cast<size_t>(length - from));
    return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - text) : -1;
}

}  // namespace

AppString expandEnvRefs(const AppString& text) {
    AppString result("");
    const char* input = text.c_str();
    int32_t length = text.length();
    int32_t copied = 0;
    int32_t from = 0;
    AppString name;
    AppString value;
    for (;;) {
        int32_t p = findPercent(input, from, length);
        if (p < 0) break;
        int32_t q = findPercent(input, p + 1, length);
        if (q < 0) break;
        name.setLength(0);
        name.append(input + p + 1, q - p - 1);
        // An empty name is never set; neither is one holding a zero byte, which no
        // environment name can contain.
        bool set = q > p + 1 && std::memchr(name.c_str(), '\0', static_cast<size_t>(name.length())) == nullptr &&
                   platform::getEnv(name.c_str(), value);
        if (set) {
            result.append(input + copied, p - copied);
            result.append(value);
            copied = from = q + 1;
        } else {
            // The closing "%" may open the next reference.
            from = q;
        }
    }
    result.append(input + copied, length - copied);
    return result;
}

}  // namespace kvx
