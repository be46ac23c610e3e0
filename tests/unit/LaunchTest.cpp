#include "launcher/Launch.h"

#include <gtest/gtest.h>

using kvx::parseMajorMinor;
using kvx::versionTooLow;

TEST(LaunchTest, VersionTextsYieldMajorAndMinor) {
    int major = -1, minor = -1;
    parseMajorMinor("1.6.0_45-b06", major, minor);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 6);
    parseMajorMinor("20.45-b01", major, minor);
    EXPECT_EQ(major, 20);
    EXPECT_EQ(minor, 45);
    // Numbers that are not there count as 0.
    parseMajorMinor("1", major, minor);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    parseMajorMinor("17+35", major, minor);
    EXPECT_EQ(major, 17);
    EXPECT_EQ(minor, 0);
    parseMajorMinor("", major, minor);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 0);
    parseMajorMinor(nullptr, major, minor);
    EXPECT_EQ(major, 0);
}

TEST(LaunchTest, MinimumVersionComparison) {
    EXPECT_TRUE(versionTooLow(1, 5, 1, 6));
    EXPECT_FALSE(versionTooLow(1, 6, 1, 6));
    EXPECT_FALSE(versionTooLow(20, 45, 1, 6));  // a greater major wins whatever the minor
    EXPECT_TRUE(versionTooLow(1, 9, 1, 10));    // minors compare as numbers, not text
    EXPECT_FALSE(versionTooLow(1, 10, 1, 9));
    EXPECT_TRUE(versionTooLow(0, 0, 1, 0));
}
