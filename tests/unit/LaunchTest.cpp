#include "launcher/Launch.h"

#include <gtest/gtest.h>

#include <string>

#include "config/ConfigStore.h"
#include "jre/JvmHost.h"

namespace {

// A store whose executable path has no ANSI form, as the real one records it for an install
// folder outside the code page that has no short name either.
class PathlessStore : public kvx::ConfigStore {
public:
    PathlessStore() : ConfigStore("", "mainclass app.Main\r\njvmdll jvm.dll\r\noption -Xmx64m") {
        modulePathHasNoAnsiForm_ = true;
    }
};

}  // namespace

TEST(LaunchTest, PathWithoutAnsiFormIsNamedBeforeAnythingIsBuilt) {
    PathlessStore store;
    kvx::JvmHost host;
    kvx::LaunchOutcome outcome = kvx::runLaunchSteps(store, host, kvx::WideStringList());
    EXPECT_EQ(outcome.code, kvx::LAUNCH_APP_PATH_NOT_ANSI);
    // Nothing was handed towards a runtime: no option, no library loaded.
    EXPECT_EQ(host.options().count(), 0);
    EXPECT_EQ(host.vm(), nullptr);
}

TEST(LaunchTest, MainThreadStackFollowsTheLastStackOption) {
    struct Case {
        const char* options;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"option -Xmx64m", 0},
        {"option -Xss64M", 64ULL << 20},
        {"option -Xss4m\r\noption -Xss2g", 2ULL << 30},       // the last one wins, as in the runtime
        {"option -Xss8m\r\noption -Xss12q", 8ULL << 20},      // one the runtime will refuse is passed over
        {"option -Xss16777216", 16ULL << 20},
        {"option -Xss512k", 1ULL << 20},                      // at least what the launch itself needs
        {"option -XX:ThreadStackSize=99999\r\noption -Xss", 0},
        {"option -Xss99999999999999g", 0},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("mainclass app.Main\r\n") + c.options;
        kvx::ConfigStore store(kvx::AppString(""), kvx::AppString(text.c_str()));
        EXPECT_EQ(kvx::mainThreadStackBytes(store), c.bytes) << c.options;
    }
}
