#include "base/StringPool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/AppWideString.h"

using kvx::AppWideString;
using kvx::StringPool;

TEST(StringPoolTest, EntriesAreStoredWithTheirZeroBytes) {
    StringPool pool;
    EXPECT_EQ(pool.count(), 0);
    EXPECT_TRUE(pool.add("a"));
    EXPECT_TRUE(pool.add("bc"));
    ASSERT_EQ(pool.count(), 2);
    ASSERT_EQ(pool.chars().length(), 5);
    EXPECT_EQ(std::string(pool.chars().data(), 5), std::string("a\0bc\0", 5));
    EXPECT_EQ(pool.data()[0], 0);
    EXPECT_EQ(pool.data()[1], 2);
    EXPECT_STREQ(pool.entry(0), "a");
    EXPECT_STREQ(pool.entry(1), "bc");
    EXPECT_STREQ(pool.entry(2), "");
    EXPECT_STREQ(pool.entry(-1), "");
}

TEST(StringPoolTest, ClearKeepsBlocksAndRestartsOffsets) {
    StringPool pool;
    for (int i = 0; i < 100; ++i) pool.add("some option text");
    int32_t offsetsCapacity = pool.capacity();
    int32_t charsCapacity = pool.chars().capacity();
    pool.clear();
    EXPECT_EQ(pool.count(), 0);
    EXPECT_EQ(pool.capacity(), offsetsCapacity);
    EXPECT_EQ(pool.chars().capacity(), charsCapacity);
    pool.add("x");
    EXPECT_EQ(pool.data()[0], 0);
    EXPECT_STREQ(pool.entry(0), "x");

    pool.release();
    EXPECT_EQ(pool.count(), 0);
    EXPECT_EQ(pool.capacity(), 0);
    EXPECT_EQ(pool.chars().capacity(), 0);
    EXPECT_EQ(pool.data(), nullptr);
}

TEST(StringPoolTest, ManyEntriesKeepAscendingOffsets) {
    StringPool pool;
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        std::string text = "-Dkey" + std::to_string(i) + "=value";
        pool.add(text.c_str());
    }
    ASSERT_EQ(pool.count(), 10000);
    for (int i = 1; i < pool.count(); ++i) ASSERT_LT(pool.data()[i - 1], pool.data()[i]);
    EXPECT_STREQ(pool.entry(9999), "-Dkey9999=value");
    EXPECT_STREQ(pool.entry(0), "-Dkey0=value");
}

TEST(AppWideStringTest, NarrowConversionAndTermination) {
    AppWideString w;
    w.assignNarrow("abc", -1);
    ASSERT_EQ(w.length(), 3);
    EXPECT_EQ(w.data()[0], 'a');
    EXPECT_EQ(w.data()[3], 0);

    w.assignNarrow("ab\0cd", 5);  // an embedded zero ends the text
    EXPECT_EQ(w.length(), 2);

    w.assignNarrow("", -1);
    EXPECT_EQ(w.length(), 0);
    ASSERT_NE(w.data(), nullptr);
    EXPECT_EQ(w.data()[0], 0);

    const uint16_t units[] = {'x', 'y', 0, 'z'};
    AppWideString copy(units, -1);
    EXPECT_EQ(copy.length(), 2);
    AppWideString counted(units, 4);
    EXPECT_EQ(counted.length(), 4);
    EXPECT_EQ(counted.data()[4], 0);
}
