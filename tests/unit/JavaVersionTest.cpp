#include "jre/JavaVersion.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "TestSupport.h"

using kvx::AppString;
using kvx::isVersionBelow;
using kvx::JavaVersion;
using kvx::parseJavaVersion;

namespace {

void expectVersion(const char* text, int32_t major, int32_t minor) {
    JavaVersion v = parseJavaVersion(text);
    EXPECT_EQ(v.major, major) << (text ? text : "(null)");
    EXPECT_EQ(v.minor, minor) << (text ? text : "(null)");
}

}  // namespace

TEST(JavaVersionTest, VersionTextsYieldMajorAndMinor) {
    expectVersion("1.6.0_45-b06", 1, 6);
    expectVersion("1.8.0_292", 1, 8);
    expectVersion("17.0.9", 17, 0);
    expectVersion("20.45-b01", 20, 45);
    // Numbers that are not there count as 0.
    expectVersion("21", 21, 0);
    expectVersion("17+35", 17, 0);
    expectVersion("1", 1, 0);
    expectVersion("", 0, 0);
    expectVersion(nullptr, 0, 0);
    expectVersion("x.5", 0, 0);
}

TEST(JavaVersionTest, NumbersBeyondInt32StopAtTheLimitInsteadOfWrapping) {
    // 4294967297 wraps to 1 in 32 bits, and 2147483648 to a negative number.
    expectVersion("4294967297.4294967297", INT32_MAX, INT32_MAX);
    expectVersion("2147483648.1", INT32_MAX, 1);
    expectVersion("99999999999999999999999999.0", INT32_MAX, 0);
    expectVersion("-99999999999", INT32_MIN, 0);
    expectVersion("2147483647.2147483647", INT32_MAX, INT32_MAX);
}

TEST(JavaVersionTest, ComparisonIsNumericMajorFirst) {
    EXPECT_TRUE(isVersionBelow({1, 5}, {1, 6}));
    EXPECT_FALSE(isVersionBelow({1, 6}, {1, 6}));
    EXPECT_FALSE(isVersionBelow({20, 45}, {1, 6}));  // a greater major wins whatever the minor
    EXPECT_TRUE(isVersionBelow({1, 9}, {1, 10}));    // minors compare as numbers, not text
    EXPECT_FALSE(isVersionBelow({1, 10}, {1, 9}));
    EXPECT_TRUE(isVersionBelow({1, 8}, {11, 0}));
    EXPECT_FALSE(isVersionBelow({17, 0}, {1, 8}));
}

TEST(JavaVersionTest, OldOneDotNumberingComparesAsTheJavaItNames) {
    // A minimum of 8 and a runtime of 1.8.0_292 agree; 1.8 stays below 11 and 17 above 1.8.
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("1.8.0_292"), parseJavaVersion("8")));
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("8.0.392"), parseJavaVersion("1.8")));
    EXPECT_TRUE(kvx::isJavaVersionBelow(parseJavaVersion("1.8.0_292"), parseJavaVersion("11")));
    EXPECT_TRUE(kvx::isJavaVersionBelow(parseJavaVersion("1.7.0_80"), parseJavaVersion("8")));
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("17.0.9"), parseJavaVersion("1.8")));
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("17.0.9"), parseJavaVersion("17")));
    EXPECT_TRUE(kvx::isJavaVersionBelow(parseJavaVersion("17.0.9"), parseJavaVersion("17.1")));
    EXPECT_TRUE(kvx::isJavaVersionBelow(parseJavaVersion("1.5.0_22-b03"), parseJavaVersion("1.6")));
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("20.45-b01"), parseJavaVersion("1.6")));
    EXPECT_FALSE(kvx::isJavaVersionBelow(parseJavaVersion("1.1.8"), parseJavaVersion("1.1")));
}

TEST(JavaVersionTest, ReleaseFileVersionIsReadWithoutQuotes) {
    kvx::test::TempDir dir("kvx-release-");
    dir.write("release", "IMPLEMENTOR=\"Vendor\"\r\nJAVA_VERSION=\"17.0.9\"\r\nOS_NAME=\"Linux\"\n");
    EXPECT_STREQ(kvx::readReleaseVersion(AppString(dir.path().string().c_str())).c_str(), "17.0.9");
    dir.write("release", "JAVA_VERSION_DATE=\"2023\"\nJAVA_VERSION=21\n");
    EXPECT_STREQ(kvx::readReleaseVersion(AppString((dir.path().string() + "/").c_str())).c_str(), "21");
    dir.write("release", "IMPLEMENTOR=x\n");
    EXPECT_TRUE(kvx::readReleaseVersion(AppString(dir.path().string().c_str())).isEmpty());
    EXPECT_TRUE(kvx::readReleaseVersion(AppString((dir / "missing").c_str())).isEmpty());
}

TEST(JavaVersionTest, WholeVersionRanksEveryNumberAndTheBuild) {
    auto parts = [](const char* text) {
        kvx::RuntimeVersion v = kvx::parseRuntimeVersion(text);
        return std::vector<int32_t>(v.part, v.part + kvx::RuntimeVersion::PARTS);
    };
    EXPECT_EQ(parts("17.0.12+7"), (std::vector<int32_t>{17, 0, 12, 0, 7}));
    EXPECT_EQ(parts("21.0.8.1+9-LTS"), (std::vector<int32_t>{21, 0, 8, 1, 9}));
    EXPECT_EQ(parts("1.8.0_292-b10"), (std::vector<int32_t>{8, 0, 292, 0, 10}));
    EXPECT_EQ(parts("25-ea+3"), (std::vector<int32_t>{25, 0, 0, 0, 3}));
    EXPECT_EQ(parts("17.0.9.9-hotspot"), (std::vector<int32_t>{17, 0, 9, 9, 0}));
    EXPECT_EQ(parts("21 +5"), (std::vector<int32_t>{21, 0, 0, 0, 0}));  // white space ends the version
    EXPECT_EQ(parts(nullptr), (std::vector<int32_t>{0, 0, 0, 0, 0}));

    auto below = [](const char* a, const char* b) {
        return kvx::compareRuntimeVersions(kvx::parseRuntimeVersion(a), kvx::parseRuntimeVersion(b)) < 0;
    };
    EXPECT_TRUE(below("17.0.2", "17.0.12"));  // numbers, not text, and not just the first two
    EXPECT_FALSE(below("17.0.12", "17.0.2"));
    EXPECT_TRUE(below("17.0.12+7", "17.0.12+9"));
    EXPECT_TRUE(below("17.0.12", "17.0.12.1"));
    EXPECT_TRUE(below("1.8.0_292", "1.8.0_392"));
    EXPECT_TRUE(below("1.8.0_392", "11"));
    EXPECT_TRUE(below("11.0.25", "17"));
    EXPECT_EQ(kvx::compareRuntimeVersions(kvx::parseRuntimeVersion("17"), kvx::parseRuntimeVersion("17.0.0")), 0);
}

TEST(JavaVersionTest, ReleaseFileRuntimeVersionCarriesTheBuild) {
    kvx::test::TempDir dir("kvx-release-");
    dir.write("release", "JAVA_RUNTIME_VERSION_X=\"1\"\nJAVA_VERSION=\"17.0.12\"\nJAVA_RUNTIME_VERSION=\"17.0.12+7\"\n");
    EXPECT_STREQ(kvx::readReleaseRuntimeVersion(AppString(dir.path().string().c_str())).c_str(), "17.0.12+7");
    EXPECT_STREQ(kvx::readReleaseVersion(AppString(dir.path().string().c_str())).c_str(), "17.0.12");
    dir.write("release", "JAVA_VERSION=\"1.8.0_292\"\n");
    EXPECT_STREQ(kvx::readReleaseRuntimeVersion(AppString(dir.path().string().c_str())).c_str(), "1.8.0_292");
}
