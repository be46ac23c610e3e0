#include "config/ValueChecks.h"

namespace kvx {

bool isSingleInstanceName(const char* name) {
    if (!name) return false;
    int n = 0;
    for (; name[n]; ++n) {
        char c = name[n];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                  c == '-';
        if (!ok || n >= 64) return false;
    }
    return n > 0;
}

bool isJreDownloadAddress(const char* url) {
    if (!url) return false;
    const char* rest = nullptr;
    static const char* const SCHEMES[] = {"http://", "https://"};
    for (const char* scheme : SCHEMES) {
        int i = 0;
        while (scheme[i] && url[i] && (url[i] | 0x20) == scheme[i]) ++i;
        if (!scheme[i]) rest = url + i;
    }
    if (!rest || !*rest) return false;
    for (const char* p = rest; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c <= ' ' || c == 0x7F || c == '"') return false;
    }
    return true;
}

}  // namespace kvx
