#pragma once
// TextView: a pointer and a length, for literals and arguments. Owns nothing: never store
// one beyond the life of the text it points at.

#include <cstdint>
#include <cstring>

namespace kvx {

struct TextView {
    const char* text = nullptr;
    int32_t length = 0;

    TextView() = default;
    TextView(const char* zeroTerminated)  // NOLINT: implicit on purpose, for literals
        : text(zeroTerminated), length(zeroTerminated ? static_cast<int32_t>(std::strlen(zeroTerminated)) : 0) {}
    TextView(const char* bytes, int32_t count) : text(bytes), length(bytes && count > 0 ? count : 0) {}
};

// True when `byte` occurs in the zero-terminated set (the terminator itself never matches).
inline bool containsByte(const char* set, char byte) {
    if (!set || byte == '\0') return false;
    return std::strchr(set, byte) != nullptr;
}

// Lower-cases A to Z only: configuration keys and file extensions compare this way,
// whatever the code page.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The path separators the launcher accepts everywhere.
constexpr const char* PATH_SEPARATORS = "/\\";

inline bool isPathSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace kvx
