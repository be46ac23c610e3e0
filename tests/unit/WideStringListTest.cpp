#include "base/WideStringList.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ProgramArguments.h"

using namespace kvx;

namespace {

std::u16string entryOf(const WideStringList& list, int32_t i) {
    const uint16_t* units = list.entry(i);
    EXPECT_EQ(units[list.entryLength(i)], 0) << "entry " << i << " is zero-terminated";
    return std::u16string(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(list.entryLength(i)));
}

}  // namespace

TEST(WideStringListTest, EntriesKeepTheirUnitsLengthsAndTerminators) {
    WideStringList list;
    const std::u16string hangul = u"\uD55C\uAD6D\uC5B4";
    const std::u16string emoji = u"\U0001F600";  // a surrogate pair
    EXPECT_TRUE(list.add(reinterpret_cast<const uint16_t*>(hangul.c_str())));
    EXPECT_TRUE(list.add(nullptr));
    EXPECT_TRUE(list.add(reinterpret_cast<const uint16_t*>(emoji.c_str()), 2));
    const uint16_t withZero[] = {'a', 0, 'b'};
    EXPECT_TRUE(list.add(withZero, 3)) << "a counted text may hold a zero unit";
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(entryOf(list, 0), hangul);
    EXPECT_EQ(entryOf(list, 1), u"");
    EXPECT_EQ(entryOf(list, 2), emoji);
    EXPECT_EQ(entryOf(list, 3), std::u16string(u"a\0b", 3));
    EXPECT_EQ(list.entryLength(4), 0);
    EXPECT_EQ(list.entry(-1)[0], 0);
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

#ifndef _WIN32
TEST(WideStringListTest, LinuxArgumentsAreReadAsUtf8AfterTheProgramName) {
    const char* argv[] = {"/opt/app/app", "\xED\x95\x9C", "\xF0\x9F\x98\x80", "", nullptr};
    WideStringList args;
    ASSERT_TRUE(platform::programArguments(4, argv, args));
    ASSERT_EQ(args.count(), 3);
    EXPECT_EQ(entryOf(args, 0), u"\uD55C");
    EXPECT_EQ(entryOf(args, 1), u"\U0001F600");
    EXPECT_EQ(entryOf(args, 2), u"");
    ASSERT_TRUE(platform::programArguments(0, nullptr, args));
    EXPECT_EQ(args.count(), 0);
}
#endif
