#include "base/AppString.h"

#include <gtest/gtest.h>

using kvx::AppString;

TEST(AppStringTest, GrowthRuleCapacities) {
    AppString s;
    s.setLength(0);
    EXPECT_EQ(s.capacity(), 8);
    s.setLength(12);
    EXPECT_EQ(s.capacity(), 16);
}
