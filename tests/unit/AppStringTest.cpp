#include "base/AppString.h"
#include "base/AppWideString.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>
#include <string>

using kvx::AppString;

namespace {
std::string bytes(const AppString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
}  // namespace

TEST(AppStringTest, GrowthRuleCapacities) {
    AppString s;
    EXPECT_EQ(s.capacity(), 0);  // nothing allocated before the first growth
    s.setLength(0);
    EXPECT_EQ(s.capacity(), 8);
    s.setLength(12);
    EXPECT_EQ(s.capacity(), 16);

    AppString t;
    t.setLength(0);
    t.setLength(20);  // 21 > 16, so 21 + 11 rounded down to a multiple of 8
    EXPECT_EQ(t.capacity(), 32);

    t.setLength(0);  // keeps the block
    EXPECT_EQ(t.capacity(), 32);
    EXPECT_EQ(t.length(), 0);
    EXPECT_EQ(t.c_str()[0], '\0');

    EXPECT_EQ(kvx::grownCapacity(0, 7), 8);
    EXPECT_EQ(kvx::grownCapacity(8, 9), 16);
    EXPECT_EQ(kvx::grownCapacity(16, 100), 104);
    EXPECT_EQ(kvx::grownCapacity(64, 65), 128);
}

TEST(AppStringTest, RepeatedAppendsStayTerminatedAndKeepEveryByte) {
    AppString s;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        char c = static_cast<char>('a' + i % 26);
        s.appendChar(c);
        expected.push_back(c);
    }
    EXPECT_EQ(bytes(s), expected);
    EXPECT_EQ(s.c_str()[s.length()], '\0');
    EXPECT_LE(s.capacity(), 2 * 5001 + 16);
}

TEST(AppStringTest, ConstructionFromNullCountsAndEmbeddedZeros) {
    AppString fromNull(nullptr);
    EXPECT_EQ(fromNull.length(), 0);
    EXPECT_STREQ(fromNull.c_str(), "");

    AppString zeroCount("abc", 0);
    EXPECT_EQ(zeroCount.length(), 0);
    ASSERT_NE(zeroCount.data(), nullptr);
    EXPECT_EQ(zeroCount.data()[0], '\0');

    AppString counted("a\0b", 3);
    EXPECT_EQ(counted.length(), 3);
    EXPECT_EQ(counted.charAt(2, '?'), 'b');
    EXPECT_EQ(counted.compare(""), static_cast<int>('a'));

    AppString copy(counted);
    EXPECT_EQ(bytes(copy), std::string("a\0b", 3));
    EXPECT_NE(copy.data(), counted.data());  // deep copy
}

TEST(AppStringTest, CompareIsSignedAndLengthAware) {
    EXPECT_LT(AppString("abc").compare("abd"), 0);
    EXPECT_LT(AppString("ab").compare("abc"), 0);
    EXPECT_GT(AppString("abc").compare("ab"), 0);
    EXPECT_EQ(AppString("abc").compare(AppString("abc")), 0);
    EXPECT_EQ(AppString("").compare(""), 0);
    EXPECT_EQ(AppString().compare(nullptr), 0);
    // Bytes of 0x80 and above read as negative, so they sort below ASCII.
    EXPECT_LT(AppString("\xE4").compare("a"), 0);
    EXPECT_GT(AppString("a").compare("\xE4"), 0);
    EXPECT_TRUE(AppString("\0x", 2).isEmpty());
    EXPECT_FALSE(AppString("x").isEmpty());
    // Case matters.
    EXPECT_NE(AppString("Abc").compare("abc"), 0);
}

TEST(AppStringTest, LeftRightMidEraseBounds) {
    AppString s("hello");
    EXPECT_EQ(bytes(s.left(-1)), "hello");
    EXPECT_EQ(bytes(s.left(2)), "he");
    EXPECT_EQ(bytes(s.left(99)), "hello");
    EXPECT_EQ(bytes(s.right(2)), "lo");
    EXPECT_EQ(bytes(s.right(99)), "hello");
    EXPECT_EQ(bytes(s.mid(3, 10)), "lo");
    EXPECT_EQ(bytes(s.mid(5)), "");
    EXPECT_EQ(bytes(s.mid(1)), "ello");
    EXPECT_EQ(bytes(s.mid(9, 2)), "");
    EXPECT_EQ(bytes(s.mid(1, 2)), "el");

    AppString a("hello");
    a.erase(2, 10);
    EXPECT_EQ(bytes(a), "he");
    AppString b("hello");
    b.erase(7, 1);
    EXPECT_EQ(bytes(b), "hello");
    AppString c("hello");
    c.erase(1, 2);
    EXPECT_EQ(bytes(c), "hlo");
    EXPECT_EQ(c.c_str()[3], '\0');
    AppString d("hello");
    d.erase(1, 4);  // pos + n == length: cut at pos
    EXPECT_EQ(bytes(d), "h");

    EXPECT_EQ(s.charAt(-1, '#'), '#');
    EXPECT_EQ(s.charAt(5, '#'), '#');
    EXPECT_EQ(s.charAt(4, '#'), 'o');
}

TEST(AppStringTest, AppendExtendAndConcat) {
    AppString s("ab");
    s.append(s);  // appending itself must survive the block moving
    EXPECT_EQ(bytes(s), "abab");
    for (int i = 0; i < 6; ++i) s.append(s);
    EXPECT_EQ(s.length(), 256);
    EXPECT_EQ(s.right(4), "abab");

    AppString f("x");
    char* room = f.extend(3);
    ASSERT_NE(room, nullptr);
    std::memcpy(room, "yzw", 3);
    EXPECT_EQ(bytes(f), "xyzw");
    EXPECT_EQ(f.c_str()[4], '\0');

    EXPECT_EQ(bytes("pre" + AppString("fix")), "prefix");
    EXPECT_EQ(bytes(AppString("pre") + "fix"), "prefix");
    EXPECT_EQ(bytes(static_cast<const char*>(nullptr) + AppString("x")), "x");
}

TEST(AppStringTest, FormatIsBoundedToItsBlock) {
    AppString s;
    s.format("Java virtual machine version %d.%d is too low, require %d.%d or higher.", 1, 5, 1, 6);
    EXPECT_EQ(s, "Java virtual machine version 1.5 is too low, require 1.6 or higher.");
    EXPECT_GE(s.capacity(), 1024);

    std::string longPattern(5000, 'x');
    AppString t;
    t.format(longPattern.c_str());
    EXPECT_EQ(t.length(), t.capacity() - 1);
    EXPECT_GE(t.length(), 1023);
    EXPECT_EQ(t.c_str()[t.length()], '\0');
}

TEST(AppStringTest, WideConversionStopsAtZeroUnitAndKeepsNonAscii) {
    const uint16_t withZero[] = {'a', 'b', 0, 'c', 'd'};
    AppString s;
    s.assignWide(withZero, 5);
    EXPECT_EQ(bytes(s), "ab");

    const uint16_t ascii[] = {'J', 'a', 'v', 'a', 0};
    s.assignWide(ascii, -1);
    EXPECT_EQ(bytes(s), "Java");

    s.assignWide(ascii, 0);
    EXPECT_EQ(s.length(), 0);

    // U+00E9 exists in every ANSI code page the tests run under (1252 and UTF-8).
    const uint16_t accented[] = {0x00E9, 't', 0x00E9};
    s.assignWide(accented, 3);
    kvx::AppWideString back;
    back.assignNarrow(s.c_str(), s.length());
    ASSERT_EQ(back.length(), 3);
    EXPECT_EQ(back.data()[0], 0x00E9);
    EXPECT_EQ(back.data()[2], 0x00E9);
}

TEST(AppStringTest, ExactWideConversionRefusesWhatTheCodePageLacks) {
    // "é" exists in every code page the tests run under (1252 and UTF-8).
    const uint16_t accented[] = {'C', ':', '\\', 0x00E9, 't', 0x00E9};
    AppString s;
    EXPECT_TRUE(s.assignWideExactly(accented, 6));
    kvx::AppWideString back;
    back.assignNarrow(s.c_str(), s.length());
    EXPECT_EQ(back.length(), 6);
    // "Ω" exists in UTF-8 but not in code page 1252, where it would become a substitute.
    const uint16_t omega[] = {'C', ':', '\\', 0x03A9, 'm', 'e', 'g', 'a', 0};
#ifdef _WIN32
    const bool omegaFits = GetACP() == CP_UTF8;
#else
    const bool omegaFits = true;
#endif
    s = "stale";
    EXPECT_EQ(s.assignWideExactly(omega, -1), omegaFits);
    EXPECT_EQ(s.isEmpty(), !omegaFits);
    if (omegaFits) {
        EXPECT_EQ(s.length(), 3 + 2 + 4);
    }
    // A lone surrogate has no form in any code page.
    const uint16_t lone[] = {'a', 0xD800, 'b'};
    s = "stale";
    EXPECT_FALSE(s.assignWideExactly(lone, 3));
    EXPECT_EQ(s.length(), 0);
    EXPECT_TRUE(s.assignWideExactly(accented, 0));
}

TEST(AppStringTest, WideCopiesKeepTheirTerminator) {
    // Eight units fill a copy's smallest block exactly: a copy without its terminator has
    // no unit at [8] at all, which AddressSanitizer reports.
    const uint16_t units[] = {'a', 0x03A9, 'c', 'd', 'e', 'f', 'g', 'h'};
    kvx::AppWideString source(units, 8);
    kvx::AppWideString copy(source);
    ASSERT_EQ(copy.length(), 8);
    EXPECT_EQ(copy.data()[8], 0);
    EXPECT_EQ(copy.data()[1], 0x03A9);
    // Assigned over a longer text, the old units after the copy must not show through.
    kvx::AppWideString assigned;
    assigned.assignNarrow("a much longer text than the source, so the block is reused");
    assigned = source;
    ASSERT_EQ(assigned.length(), 8);
    EXPECT_EQ(assigned.data()[8], 0);
}

TEST(AppStringTest, GrowthPastTheSizeLimitKeepsTheTextAndReportsExhaustion) {
    AppString s("kept");
    s.setLength(INT32_MAX - 4);  // would need a block past the 32-bit range
    EXPECT_EQ(bytes(s), "kept");
    EXPECT_EQ(s.c_str()[4], '\0');
    EXPECT_EQ(s.extend(INT32_MAX - 2), nullptr);
    EXPECT_EQ(bytes(s), "kept");
    EXPECT_TRUE(kvx::memoryExhausted());
}
