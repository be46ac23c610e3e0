#include "launcher/Launch.h"

#include <gtest/gtest.h>

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
