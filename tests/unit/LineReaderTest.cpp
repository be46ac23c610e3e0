#include "config/LineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kvx::AppString;
using kvx::LineReader;

namespace {

std::vector<std::string> linesOf(const char* text) {
    std::vector<std::string> lines;
    LineReader reader(text);
    AppString line;
    while (reader.next(line)) lines.emplace_back(line.c_str(), static_cast<size_t>(line.length()));
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineReaderTest, EveryKindOfLineEndSplitsLines) {
    EXPECT_EQ(linesOf("a\rb\nc\r\nd\n\re"), (Lines{"a", "b", "c", "d", "e"}));
}

TEST(LineReaderTest, PairsCountOnceAndRepeatsGiveEmptyLines) {
    EXPECT_EQ(linesOf("a\r\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(linesOf("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(linesOf("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    // LF CR is one end, the following LF another.
    EXPECT_EQ(linesOf("a\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(linesOf("a\n\rb"), (Lines{"a", "b"}));
}

TEST(LineReaderTest, FinalLineEndGivesNoEmptyLastLine) {
    EXPECT_EQ(linesOf("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(linesOf("a"), (Lines{"a"}));
    EXPECT_EQ(linesOf("\r\n"), (Lines{""}));
    EXPECT_EQ(linesOf("a\r\n\r"), (Lines{"a", ""}));
}

TEST(LineReaderTest, ExhaustedAtZeroByteAndWithoutText) {
    EXPECT_TRUE(linesOf("").empty());
    EXPECT_TRUE(linesOf(nullptr).empty());
    const char text[] = "a\r\nb\0c\r\nd";
    EXPECT_EQ(linesOf(text), (Lines{"a", "b"}));
    // Once exhausted it stays exhausted.
    LineReader reader("x");
    AppString line;
    EXPECT_TRUE(reader.next(line));
    EXPECT_FALSE(reader.next(line));
    EXPECT_FALSE(reader.next(line));
}

TEST(LineReaderTest, TextOfOnlyCarriageReturnsIsOneEmptyLineEach) {
    std::string text(1000, '\r');
    Lines lines = linesOf(text.c_str());
    ASSERT_EQ(lines.size(), 1000u);
    for (const std::string& line : lines) EXPECT_TRUE(line.empty());
}

TEST(LineReaderTest, OneMebibyteLineComesWhole) {
    std::string text(1 << 20, 'x');
    text[12345] = '\t';
    Lines lines = linesOf(text.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], text);
}
