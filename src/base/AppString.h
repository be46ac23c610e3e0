#pragma once
// AppString: the launcher's one text type. 8-bit text in the system's ANSI code page,
// always zero-terminated once it holds a block, deep-copied, no sharing. `length` counts
// bytes; a counted block may contain zero bytes before its end.

#include <cstdarg>
#include <cstdint>

#include "base/GrowBuffer.h"
#include "base/TextView.h"

namespace kvx {

class AppString : public GrowBuffer<char> {
public:
    AppString() = default;
    // Copies `count` bytes of `text`; -1 means up to the zero byte; null text gives "".
    AppString(const char* text, int32_t count = -1);  // NOLINT: implicit from literals
    AppString(TextView view);                          // NOLINT
    AppString(const AppString& other);
    AppString(AppString&& other) noexcept = default;
    AppString& operator=(const AppString& other);
    AppString& operator=(AppString&& other) noexcept = default;
    ~AppString() override = default;

    // Grows so that n + 1 bytes fit, writes a zero byte at n, sets the length to n.
    void setLength(int32_t n) override;
    // Grows so that n bytes fit; the length is unchanged.
    void reserve(int32_t n);

    // Zero-terminated text, "" while no block exists.
    const char* c_str() const { return data_ ? data_ : ""; }
    // The launcher's emptiness test: compare with "" (a leading zero byte counts as empty).
    bool isEmpty() const { return compare("") == 0; }

    void append(const AppString& other);
    void append(const char* bytes, int32_t count);
    void append(const char* text);
    void append(TextView view) { append(view.text, view.length); }
    void appendChar(char c) { append(&c, 1); }
    // Grows the length by `count` and returns where the new bytes start (null when memory ran out).
    char* extend(int32_t count);

    // Signed byte-wise comparison; bytes past either end read as 0.
    int compare(const char* text) const;
    int compare(const AppString& other) const;
    bool operator==(const char* text) const { return compare(text) == 0; }
    bool operator==(const AppString& other) const { return compare(other) == 0; }
    bool operator!=(const char* text) const { return compare(text) != 0; }

    AppString left(int32_t n) const;
    AppString right(int32_t n) const;
    AppString mid(int32_t pos) const;
    AppString mid(int32_t pos, int32_t n) const;
    void erase(int32_t pos, int32_t n);
    char charAt(int32_t pos, char fallback) const;
    // The last byte, or 0 for empty text.
    char lastChar() const { return charAt(length_ - 1, '\0'); }

    // Replaces the text with the ANSI form of `count` UTF-16 units (-1: up to a zero unit).
    void assignWide(const uint16_t* units, int32_t count);
    // As assignWide, but only when the ANSI text stands for exactly these units (it converts
    // back to them): false, with the text emptied, when the code page lacks a character.
    bool assignWideExactly(const uint16_t* units, int32_t count);
    // printf-style formatting, bounded to the block (at least 1023 characters).
    void format(const char* pattern, ...);
    void formatV(const char* pattern, va_list args);

private:
    int compareBytes(const char* other, int32_t otherLength) const;
};

AppString operator+(const char* text, const AppString& s);
AppString operator+(const AppString& s, const char* text);
AppString operator+(const AppString& a, const AppString& b);

// FNV-1a over the text's bytes, 64 bits: a short, stable name for it (cache file names).
uint64_t fnv1a(const AppString& text);

}  // namespace kvx
