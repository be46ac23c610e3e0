#include "jre/JavaVersion.h"

#include <climits>
#include <cstring>

#include "base/TextView.h"
#include "platform/MappedFile.h"

namespace kvx {

namespace {

constexpr const char* RELEASE_FILE = "release";
constexpr const char* RELEASE_VERSION_KEY = "JAVA_VERSION=";
constexpr const char* RELEASE_RUNTIME_VERSION_KEY = "JAVA_RUNTIME_VERSION=";
// JEP 223 allows any number of dotted numbers; ranking looks at the first four.
constexpr int32_t DOTTED_PARTS = 4;
constexpr int32_t BUILD_PART = 4;

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

// The build number after "+" (JEP 223: 17.0.12+7, 21-ea+3) or after the old "-b" (1.8.0_292-b10),
// as long as no white space comes first; 0 when there is none.
int32_t readBuild(const char* p) {
    for (; *p && !isSpace(*p); ++p) {
        int32_t build = 0;
        const char* q = p + 1;
        if (*p == '-' && *q == 'b') ++q;
        else if (*p != '+') continue;
        if (isDigit(*q) && readNumber(q, build)) return build;
    }
    return 0;
}

// The value of `key` (which ends in "=") in the `release` file of `home`, without quotes.
AppString readReleaseValue(const AppString& home, const char* key) {
    AppString path(home);
    if (!path.isEmpty() && !isPathSeparator(path.charAt(path.length() - 1, '\0'))) path.appendChar('/');
    path.append(RELEASE_FILE);
    AppString text;
    if (!platform::appendFileContents(path.c_str(), text)) return AppString();

    const int32_t keyLength = static_cast<int32_t>(std::strlen(key));
    int32_t lineStart = 0;
    while (lineStart < text.length()) {
        int32_t lineEnd = lineStart;
        while (lineEnd < text.length() && text.charAt(lineEnd, '\n') != '\n' && text.charAt(lineEnd, '\r') != '\r') {
            ++lineEnd;
        }
        if (lineEnd - lineStart >= keyLength &&
            std::strncmp(text.c_str() + lineStart, key, static_cast<size_t>(keyLength)) == 0) {
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

RuntimeVersion parseRuntimeVersion(const char* text) {
    RuntimeVersion version;
    if (!text) return version;
    int32_t numbers[DOTTED_PARTS] = {};
    const char* p = text;
    for (int32_t i = 0; i < DOTTED_PARTS; ++i) {
        if (i > 0) {
            if (*p != '.' || !isDigit(p[1])) break;
            ++p;
        }
        if (!readNumber(p, numbers[i])) break;
    }
    if (numbers[0] == 1 && numbers[1] >= 2) {
        // 1.x.y_u: Java x, then the micro number and the update after "_".
        version.part[0] = numbers[1];
        version.part[1] = numbers[2];
        int32_t update = 0;
        const char* q = p + 1;
        if (*p == '_' && isDigit(*q) && readNumber(q, update)) version.part[2] = update;
    } else {
        for (int32_t i = 0; i < DOTTED_PARTS; ++i) version.part[i] = numbers[i];
    }
    version.part[BUILD_PART] = readBuild(p);
    return version;
}

int compareRuntimeVersions(const RuntimeVersion& a, const RuntimeVersion& b) {
    for (int32_t i = 0; i < RuntimeVersion::PARTS; ++i) {
        if (a.part[i] != b.part[i]) return a.part[i] < b.part[i] ? -1 : 1;
    }
    return 0;
}

AppString readReleaseVersion(const AppString& home) { return readReleaseValue(home, RELEASE_VERSION_KEY); }

AppString readReleaseRuntimeVersion(const AppString& home) {
    AppString version = readReleaseValue(home, RELEASE_RUNTIME_VERSION_KEY);
    return version.isEmpty() ? readReleaseValue(home, RELEASE_VERSION_KEY) : version;
}

}  // namespace kvx
