#include "jre/JavaVersion.h"

#include <climits>
#include <cstring>

#include "base/TextView.h"
#include "platform/MappedFile.h"

namespace kvx {

namespace {

constexpr const char* RELEASE_FILE = "release";
constexpr const char* RELEASE_VERSION_KEY = "JAVA_VERSION=";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// One "%d" conversion: white space, an optional sign, digits. Saturates at the int32 limits.
// Returns false (and leaves `p`) when no digit follows.
bool readNumber(const char*& p, int32_t& out) {
    const char* q = p;
    while (isSpace(*q)) ++q;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = (*q++ == '-');
    if (!isDigit(*q)) return false;
    int64_t value = 0;
    for (; isDigit(*q); ++q) {
        if (value <= INT32_MAX) value = value * 10 + (*q - '0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    out = static_cast<int32_t>(value);
    p = q;
    return true;
}

}  // namespace

JavaVersion parseJavaVersion(const char* text) {
    JavaVersion version;
    if (!text) return version;
    const char* p = text;
    if (!readNumber(p, version.major)) return version;
    if (*p != '.') return version;
    ++p;
    readNumber(p, version.minor);
    return version;
}

bool isVersionBelow(JavaVersion running, JavaVersion required) {
    return running.major < required.major || (running.major == required.major && running.minor < required.minor);
}

JavaVersion featureNumbering(JavaVersion version) {
    // Java 1.2 to 1.8 were Java 2 to 8; "1.0" and "1.1" stay as they are.
    if (version.major == 1 && version.minor >= 2) return JavaVersion{version.minor, 0};
    return version;
}

bool isJavaVersionBelow(JavaVersion running, JavaVersion required) {
    return isVersionBelow(featureNumbering(running), featureNumbering(required));
}

AppString readReleaseVersion(const AppString& home) {
    AppString path(home);
    if (!path.isEmpty() && !isPathSeparator(path.charAt(path.length() - 1, '\0'))) path.appendChar('/');
    path.append(RELEASE_FILE);
    AppString text;
    if (!platform::appendFileContents(path.c_str(), text)) return AppString();

    const int32_t keyLength = static_cast<int32_t>(std::strlen(RELEASE_VERSION_KEY));
    int32_t lineStart = 0;
    while (lineStart < text.length()) {
        int32_t lineEnd = lineStart;
        while (lineEnd < text.length() && text.charAt(lineEnd, '\n') != '\n' && text.charAt(lineEnd, '\r') != '\r') {
            ++lineEnd;
        }
        if (lineEnd - lineStart >= keyLength &&
            std::strncmp(text.c_str() + lineStart, RELEASE_VERSION_KEY, static_cast<size_t>(keyLength)) == 0) {
            int32_t valueStart = lineStart + keyLength;
            int32_t valueEnd = lineEnd;
            if (valueStart < valueEnd && text.charAt(valueStart, '\0') == '"') ++valueStart;
            if (valueEnd > valueStart && text.charAt(valueEnd - 1, '\0') == '"') --valueEnd;
            return AppString(text.c_str() + valueStart, valueEnd - valueStart);
        }
        lineStart = lineEnd + 1;
    }
    return AppString();
}

}  // namespace kvx
