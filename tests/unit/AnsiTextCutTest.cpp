#include "base/AnsiTextCut.h"
#include "platform/TextConversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using kvx::ansiFitLength;
using kvx::copyAnsiFitting;

namespace {

// A double-byte code page like 936: bytes 0x81..0xFE lead a two-byte character, and the
// trail byte may itself lie in that range.
int32_t fakeDoubleByte(unsigned char first) { return first >= 0x81 && first <= 0xFE ? 2 : 1; }

int32_t fit(const std::string& text, int32_t max) {
    return ansiFitLength(text.data(), static_cast<int32_t>(text.size()), max, fakeDoubleByte);
}

}  // namespace

TEST(AnsiTextCutTest, DoubleByteCharactersAreNeverSplit) {
    EXPECT_EQ(fit("abcdef", 4), 4);
    EXPECT_EQ(fit("abc", 63), 3);
    // "a", one double-byte character, "b": a limit of 2 ends before the character.
    const std::string mixed = "a\xD6\xD0" "b";
    EXPECT_EQ(fit(mixed, 2), 1);
    EXPECT_EQ(fit(mixed, 3), 3);
    // Trail bytes that look like lead bytes: only a walk from the start finds the boundaries.
    const std::string run = "\x81\x81\x81\x81\x81\x81";
    EXPECT_EQ(fit(run, 5), 4);
    EXPECT_EQ(fit("x" + run, 5), 5);
    EXPECT_EQ(fit("xy" + run, 5), 4);
}

TEST(AnsiTextCutTest, BrokenCharactersAtTheEndAreLeftOut) {
    EXPECT_EQ(fit(std::string("a\xD6", 2), 10), 1);     // a lead byte with no trail byte
    EXPECT_EQ(fit(std::string("a\xD6\0b", 4), 10), 1);  // its trail would be the terminator
    EXPECT_EQ(fit(std::string("ab\0cd", 5), 10), 2);    // the text ends at its zero byte
    EXPECT_EQ(ansiFitLength(nullptr, 5, 10, fakeDoubleByte), 0);
    EXPECT_EQ(fit("abc", 0), 0);
}

TEST(AnsiTextCutTest, CopyTerminatesWithinTheField) {
    char field[64];
    std::memset(field, 'Z', sizeof field);
    const std::string hundred(100, 'q');
    EXPECT_EQ(copyAnsiFitting(field, 64, hundred.data(), 100, fakeDoubleByte), 63);
    EXPECT_EQ(std::string(field), std::string(63, 'q'));

    // 31 double-byte characters and one more: the 32nd would need bytes 63 and 64.
    std::string chinese;
    for (int i = 0; i < 40; ++i) chinese += "\xD6\xD0";
    EXPECT_EQ(copyAnsiFitting(field, 64, chinese.data(), static_cast<int32_t>(chinese.size()), fakeDoubleByte), 62);
    EXPECT_EQ(std::strlen(field), 62u);
    EXPECT_EQ(std::string(field), chinese.substr(0, 62));

    EXPECT_EQ(copyAnsiFitting(field, 64, nullptr, 0, fakeDoubleByte), 0);
    EXPECT_EQ(field[0], '\0');
}

TEST(AnsiTextCutTest, SystemCodePageCutKeepsWholeCharacters) {
    // The system's own rule: on Linux the text is UTF-8 ("中" is three bytes); on Windows
    // under a single-byte code page every byte stands alone.
    std::string text;
    for (int i = 0; i < 30; ++i) text += "\xE4\xB8\xAD";
    int32_t n = ansiFitLength(text.data(), static_cast<int32_t>(text.size()), 62);
#if defined(_WIN32)
    EXPECT_EQ(n, 62);
#else
    EXPECT_EQ(n, 60);
#endif
}

TEST(AnsiTextCutTest, Utf8SequencesAreNeverSplit) {
    // "a", e-acute (2 bytes), the euro sign (3), a face (4): boundaries after 1, 3, 6 and 10.
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const int32_t n = static_cast<int32_t>(text.size());
    const int32_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
    for (int32_t max = 0; max <= 11; ++max) {
        EXPECT_EQ(ansiFitLength(text.data(), n, max, kvx::platform::utf8CharLength), expected[max]) << max;
    }
    // A sequence cut short by the end of the text is left out; a stray continuation byte stands alone.
    EXPECT_EQ(ansiFitLength("a\xE2\x82", 3, 10, kvx::platform::utf8CharLength), 1);
    EXPECT_EQ(ansiFitLength("\x82x", 2, 10, kvx::platform::utf8CharLength), 2);
    // 21 euro signs are 63 bytes: a 64-byte field holds all of them, 22 leave the last out.
    std::string euros;
    for (int i = 0; i < 22; ++i) euros += "\xE2\x82\xAC";
    char field[64];
    EXPECT_EQ(copyAnsiFitting(field, 64, euros.data(), static_cast<int32_t>(euros.size()),
                              kvx::platform::utf8CharLength), 63);
    EXPECT_EQ(std::string(field), euros.substr(0, 63));
}
