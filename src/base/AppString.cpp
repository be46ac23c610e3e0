#include "base/AppString.h"

#include <cstdio>
#include <cstring>

#include "base/AppWideString.h"
#include "platform/TextConversion.h"

namespace kvx {

AppString::AppString(const char* text, int32_t count) {
    if (!text) count = 0;
    else if (count < 0) count = static_cast<int32_t>(std::strlen(text));
    setLength(0);
    append(text, count);
}

AppString::AppString(TextView view) : AppString(view.text, view.length) {}

AppString::AppString(const AppString& other) : GrowBuffer<char>() {
    append(other.data_, other.length_);
}

AppString& AppString::operator=(const AppString& other) {
    if (this != &other) {
        setLength(0);
        append(other.data_, other.length_);
    }
    return *this;
}

void AppString::setLength(int32_t n) {
    if (n < 0) n = 0;
    if (n == INT32_MAX) {
        noteMemoryExhausted();
        return;
    }
    if (!grow(n + 1)) return;
    data_[n] = '\0';
    length_ = n;
}

void AppString::reserve(int32_t n) {
    if (n > 0) grow(n);
}

void AppString::append(const AppString& other) { append(other.data_, other.length_); }

void AppString::append(const char* bytes, int32_t count) {
    if (!data_) setLength(0);  // even an empty append leaves zero-terminated text
    if (bytes && count > 0) appendElements(bytes, count);
}

void AppString::append(const char* text) {
    append(text, text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

char* AppString::extend(int32_t count) {
    if (count < 0) return nullptr;
    int32_t old = length_;
    if (!growFor(old, count)) return nullptr;
    setLength(old + count);
    if (length_ != old + count) return nullptr;
    return data_ + old;
}

int AppString::compareBytes(const char* other, int32_t otherLength) const {
    int32_t shorter = length_ < otherLength ? length_ : otherLength;
    int32_t i = 0;
    while (i < shorter && data_[i] == other[i]) ++i;
    signed char mine = i < length_ ? static_cast<signed char>(data_[i]) : 0;
    signed char theirs = i < otherLength ? static_cast<signed char>(other[i]) : 0;
    return mine - theirs;
}

int AppString::compare(const char* text) const {
    return compareBytes(text ? text : "", text ? static_cast<int32_t>(std::strlen(text)) : 0);
}

int AppString::compare(const AppString& other) const {
    return compareBytes(other.c_str(), other.length_);
}

AppString AppString::left(int32_t n) const {
    if (n < 0 || n > length_) n = length_;
    return AppString(c_str(), n);
}

AppString AppString::right(int32_t n) const {
    if (n < 0 || n > length_) n = length_;
    return AppString(c_str() + (length_ - n), n);
}

AppString AppString::mid(int32_t pos) const {
    if (pos < 0) pos = 0;
    if (pos >= length_) return AppString("", 0);
    return AppString(data_ + pos, length_ - pos);
}

AppString AppString::mid(int32_t pos, int32_t n) const {
    if (pos < 0) pos = 0;
    if (pos >= length_ || n <= 0) return AppString("", 0);
    if (n > length_ - pos) n = length_ - pos;
    return AppString(data_ + pos, n);
}

void AppString::erase(int32_t pos, int32_t n) {
    if (pos < 0 || pos >= length_ || n < 0) return;
    if (n < length_ - pos) {
        std::memmove(data_ + pos, data_ + pos + n, static_cast<size_t>(length_ - pos - n));
        setLength(length_ - n);
    } else {
        setLength(pos);
    }
}

char AppString::charAt(int32_t pos, char fallback) const {
    if (pos < 0 || pos >= length_) return fallback;
    return data_[pos];
}

void AppString::assignWide(const uint16_t* units, int32_t count) {
    setLength(0);
    if (!units || count == 0) return;
    int32_t needed = platform::wideToAnsi(units, count, nullptr, 0);
    if (needed <= 0) return;
    setLength(needed);
    if (length_ != needed) return;
    int32_t written = platform::wideToAnsi(units, count, data_, length_ + 1);
    if (written < 0) written = 0;
    if (written > needed) written = needed;
    data_[written] = '\0';
    // The text ends at the first zero byte, wherever the units held a zero.
    setLength(static_cast<int32_t>(std::strlen(data_)));
}

bool AppString::assignWideExactly(const uint16_t* units, int32_t count) {
    AppWideString original(units, count);
    assignWide(original.data(), original.length());
    AppWideString back;
    back.assignNarrow(c_str(), length_);
    bool same = back.length() == original.length();
    for (int32_t i = 0; same && i < original.length(); ++i) same = back.data()[i] == original.data()[i];
    if (!same) setLength(0);
    return same;
}

void AppString::format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    formatV(pattern, args);
    va_end(args);
}

void AppString::formatV(const char* pattern, va_list args) {
    if (capacity_ < 1024) {
        int32_t next = capacity_ < 8 ? 8 : capacity_;
        next *= 2;
        if (next < 1024) next = 1032;
        if (!grow(next)) {
            setLength(0);
            return;
        }
    }
    // Bounded to the block: longer output is clipped to capacity - 1 characters.
    setLength(platform::formatBounded(data_, capacity_, pattern, args));
}

AppString operator+(const char* text, const AppString& s) {
    AppString result(text);
    result.append(s);
    return result;
}

AppString operator+(const AppString& s, const char* text) {
    AppString result(s);
    result.append(text);
    return result;
}

AppString operator+(const AppString& a, const AppString& b) {
    AppString result(a);
    result.append(b);
    return result;
}

uint64_t fnv1a(const AppString& text) {
    uint64_t hash = 14695981039346656037ULL;
    for (int32_t i = 0; i < text.length(); ++i) {
        hash ^= static_cast<unsigned char>(text.c_str()[i]);
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace kvx
