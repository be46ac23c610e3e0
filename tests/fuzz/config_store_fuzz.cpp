// Store lookups and environment expansion over arbitrary bytes. The first input byte
// chooses where the side text ends and the embedded text begins; the remaining bytes
// after a "|" (when present) are an extra key to look up.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config/ConfigStore.h"
#include "config/EnvRefs.h"
#include "platform/Environment.h"

using kvx::AppString;
using kvx::ConfigStore;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Seen {
    AppString first;
    int32_t count = 0;
    int32_t bytes = 0;
    int32_t limit = 0;
};

void countValue(void* context, const char* value) {
    Seen* seen = static_cast<Seen*>(context);
    size_t n = std::strlen(value);
    check(std::strpbrk(value, "\r\n") == nullptr);
    if (seen->count == 0) seen->first = AppString(value);
    seen->count += 1;
    seen->bytes += static_cast<int32_t>(n);
    check(seen->bytes <= seen->limit);
}

// A value is a line's tail: no line end, no zero byte, never longer than the text.
void checkValue(const AppString& value, const ConfigStore& store) {
    check(value.length() <= store.length());
    check(std::memchr(value.c_str(), '\0', static_cast<size_t>(value.length())) == nullptr);
    check(std::strpbrk(value.c_str(), "\r\n") == nullptr);
    check(value.c_str()[value.length()] == '\0');
}

void lookUp(const ConfigStore& store, const AppString& key) {
    for (bool embeddedOnly : {false, true}) {
        AppString first = store.get(key, embeddedOnly);
        checkValue(first, store);
        Seen seen;
        seen.limit = store.length();
        AppString none = store.find(key, countValue, &seen, embeddedOnly);
        check(none.length() == 0);
        // The single-valued lookup returns the first value the enumeration sees.
        check(first == seen.first);

        AppString expanded = kvx::expandEnvRefs(first);
        // Without a "%" nothing can change.
        if (!std::memchr(first.c_str(), '%', static_cast<size_t>(first.length()))) check(expanded == first);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvx::platform::setEnv("KVXFUZZ", "value");
    kvx::platform::setEnv("kvxfuzz_self", "%KVXFUZZ%");
    kvx::platform::setEnv("KVXFUZZ_EMPTY", "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    const char* text = reinterpret_cast<const char*>(data + 1);
    int32_t rest = static_cast<int32_t>(size - 1);
    int32_t split = rest == 0 ? 0 : static_cast<int32_t>(data[0]) % (rest + 1);

    int32_t embeddedEnd = rest;
    const void* bar = std::memchr(text + split, '|', static_cast<size_t>(rest - split));
    AppString extraKey;
    if (bar) {
        embeddedEnd = static_cast<int32_t>(static_cast<const char*>(bar) - text);
        extraKey = AppString(text + embeddedEnd + 1, rest - embeddedEnd - 1);
    }
    AppString side(text, split);
    AppString embedded(text + split, embeddedEnd - split);
    ConfigStore store(side, embedded);

    check(store.sideTextLength() >= 0 && store.sideTextLength() <= store.length());
    check(store.sideTextLength() == (side.length() > 0 ? side.length() + 2 : 0));
    check(store.c_str()[store.length()] == '\0');

    static const char* const KEYS[] = {"mainclass", "minjre",  "option", "property", "forcecwd",
                                       "classpath", "libs",    "jvmdll", "jre_order", "o",
                                       "OPTION",    "=",       " "};
    for (const char* key : KEYS) lookUp(store, key);
    lookUp(store, extraKey);
    AppString cwd = store.getForceCwd();
    (void)cwd;

    // The expansion over the raw bytes, zero bytes included.
    AppString raw(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    AppString expanded = kvx::expandEnvRefs(raw);
    if (!std::memchr(data, '%', size)) check(expanded.length() == raw.length());
    return 0;
}
