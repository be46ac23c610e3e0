#include "config/EnvRefs.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Environment.h"

using kvx::AppString;
using kvx::expandEnvRefs;

namespace {

std::string expand(const char* text) { return expandEnvRefs(AppString(text)).c_str(); }

class EnvRefsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_B", "x"));
        ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_PROFILE", "C:\\Users\\ann"));
        ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_SELF", "%KVXTEST_B%"));
        ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_EMPTY", ""));
    }
};

}  // namespace

TEST_F(EnvRefsTest, SetVariableIsReplacedWhateverTheCaseOfItsName) {
    EXPECT_EQ(expand("%KVXTEST_PROFILE%\\data"), "C:\\Users\\ann\\data");
    EXPECT_EQ(expand("%kvxtest_profile%\\data"), "C:\\Users\\ann\\data");
    EXPECT_EQ(expand("a%KVXTEST_B%b%KVXTEST_B%c"), "axbxc");
}

TEST_F(EnvRefsTest, UnsetReferenceStaysAndItsClosingPercentOpensTheNext) {
    EXPECT_EQ(expand("%KVXTEST_A%KVXTEST_B%"), "%KVXTEST_Ax");
    EXPECT_EQ(expand("%KVXTEST_B%%KVXTEST_B%"), "xx");
    EXPECT_EQ(expand("a%KVXTEST_UNSET%b"), "a%KVXTEST_UNSET%b");
    EXPECT_EQ(expand("%KVXTEST_B%%"), "x%");
}

TEST_F(EnvRefsTest, LonePercentSignsStay) {
    EXPECT_EQ(expand("100%"), "100%");
    EXPECT_EQ(expand("%%"), "%%");
    EXPECT_EQ(expand("%"), "%");
    EXPECT_EQ(expand(""), "");
    EXPECT_EQ(expand("%%KVXTEST_B%"), "%x");
}

TEST_F(EnvRefsTest, ValuesAreExpandedOnce) {
    EXPECT_EQ(expand("%KVXTEST_SELF%"), "%KVXTEST_B%");
}

TEST_F(EnvRefsTest, VariableSetToEmptyTextRemovesTheReference) {
    EXPECT_EQ(expand("a%KVXTEST_EMPTY%b"), "ab");
}

TEST_F(EnvRefsTest, ZeroByteInsideANameNeverMatches) {
    const char text[] = "%KVXTEST_B\0x%y";
    AppString input(text, sizeof text - 1);
    AppString out = expandEnvRefs(input);
    EXPECT_EQ(out.length(), input.length());
}

TEST_F(EnvRefsTest, TenThousandPercentSignsStayAsTheyAre) {
    std::string text(10000, '%');
    EXPECT_EQ(expand(text.c_str()), text);
    // Every second name sits between the closing "%" of a replaced reference and the next
    // "%": it is plain text.
    std::string refs;
    for (int i = 0; i < 5000; ++i) refs += "%KVXTEST_B";
    refs += "%";
    std::string expected;
    for (int i = 0; i < 2500; ++i) expected += "xKVXTEST_B";
    expected += "%";
    EXPECT_EQ(expand(refs.c_str()), expected);
}
