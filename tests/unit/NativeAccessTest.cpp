#include "jre/NativeAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "jre/JvmHost.h"
#include "platform/FileSystem.h"

using namespace kvx;

namespace {

// The options a host holds after addNativeAccessOption for a Java home whose release file
// says `release` (none when empty), after `configured`.
std::vector<std::string> optionsFor(const char* release, std::vector<std::string> configured = {}) {
    test::TempDir home("kvx-native-access-");
    const char sep = platform::nativeSeparator();
    std::filesystem::create_directories(home.path() / "bin" / "server");
    if (*release) home.write("release", std::string("IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"") + release + "\"\n");
    const std::string library = home / (std::string("bin") + sep + "server" + sep + "jvm.dll");
    home.write(std::string("bin") + sep + "server" + sep + "jvm.dll", "runtime");
    JvmHost host;
    for (const std::string& o : configured) host.addOption(o.c_str());
    addNativeAccessOption(AppString(library.c_str()), host);
    std::vector<std::string> out;
    for (int32_t i = 0; i < host.options().count(); ++i) out.emplace_back(host.options().entry(i));
    return out;
}

}  // namespace

TEST(NativeAccessTest, OnlyRuntimesThatRestrictSystemLoadGetTheOptionAfterTheConfiguredOnes) {
    EXPECT_FALSE(wantsNativeAccessOption(0));
    EXPECT_FALSE(wantsNativeAccessOption(21));
    EXPECT_FALSE(wantsNativeAccessOption(23));
    EXPECT_TRUE(wantsNativeAccessOption(24));
    EXPECT_TRUE(wantsNativeAccessOption(25));

    EXPECT_EQ(optionsFor("25.0.2", {"-Xmx64m"}), (std::vector<std::string>{"-Xmx64m", NATIVE_ACCESS_OPTION}));
    EXPECT_EQ(optionsFor("24"), (std::vector<std::string>{NATIVE_ACCESS_OPTION}));
    EXPECT_TRUE(optionsFor("21.0.8").empty());
    EXPECT_TRUE(optionsFor("1.8.0_292").empty());
    EXPECT_TRUE(optionsFor("").empty()) << "no release file: the version is not guessed";
}

TEST(NativeAccessTest, AConfiguredOptionKeepsCharge) {
    for (const char* o : {"--enable-native-access=ALL-UNNAMED", "--enable-native-access=app.module",
                          "--enable-native-access", "--illegal-native-access=deny"}) {
        EXPECT_TRUE(isNativeAccessOption(o)) << o;
        EXPECT_EQ(optionsFor("25.0.2", {o}), (std::vector<std::string>{o}));
    }
    for (const char* o : {"--enable-native-accessory", "-Djdk.native=1", "--add-opens=java.base/java.lang=ALL-UNNAMED", ""}) {
        EXPECT_FALSE(isNativeAccessOption(o)) << o;
    }
    EXPECT_FALSE(isNativeAccessOption(nullptr));
}
