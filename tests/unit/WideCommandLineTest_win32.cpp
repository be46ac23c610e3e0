#include "platform/win32/WideCommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kvx;

namespace {

std::vector<std::u16string> split(const std::u16string& line) {
    WideStringList list;
    EXPECT_TRUE(platform::splitWideCommandLine(reinterpret_cast<const uint16_t*>(line.c_str()), list));
    std::vector<std::u16string> out;
    for (int32_t i = 0; i < list.count(); ++i) {
        out.emplace_back(reinterpret_cast<const char16_t*>(list.entry(i)), static_cast<size_t>(list.entryLength(i)));
    }
    return out;
}

}  // namespace

TEST(WideCommandLineTest, ArgumentsAfterTheProgramNameKeepEveryCharacter) {
    // Hangul and an emoji are outside every legacy code page of a Chinese machine.
    EXPECT_EQ(split(u"\"C:\\\u7A0B\u5E8F\\my app.exe\" \uD55C\uAD6D\uC5B4 \U0001F600 \"two words\" \"\" "
                    u"say\\\"hi\\\" C:\\dir\\"),
              (std::vector<std::u16string>{u"\uD55C\uAD6D\uC5B4", u"\U0001F600", u"two words", u"", u"say\"hi\"",
                                           u"C:\\dir\\"}));
    EXPECT_TRUE(split(u"app.exe").empty());
    EXPECT_TRUE(split(u"\"C:\\my app\\app.exe\"   ").empty());
    WideStringList list;
    EXPECT_FALSE(platform::splitWideCommandLine(nullptr, list));
}
