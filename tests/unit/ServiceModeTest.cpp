#include "launcher/ServiceMode.h"

#include <gtest/gtest.h>

#include "config/ConfigStore.h"

using kvx::AppString;
using kvx::ConfigStore;

namespace {

std::string nameOf(const char* side, const char* embedded) {
    ConfigStore store{AppString(side), AppString(embedded)};
    return kvx::serviceNameOf(store).c_str();
}

}  // namespace

// Keys match by prefix, so the service_log and service_stop lines are values of "service" too.
TEST(ServiceModeTest, NameSkipsTheLinesOfTheLongerServiceKeys) {
    EXPECT_EQ(nameOf("", "service_log C:\\x.log\r\nservice_stop a.B.stop\r\nservice MyApp\r\n"), "MyApp");
    EXPECT_EQ(nameOf("service_log %TEMP%\\s.log", "SERVICE = My App\r\n"), "My App");
    EXPECT_EQ(nameOf("", "service_log C:\\x.log\r\n"), "");
    EXPECT_EQ(nameOf("", "mainclass a.B\r\n"), "");
}

TEST(ServiceModeTest, SideFileNameWinsOverTheEmbeddedOne) {
    EXPECT_EQ(nameOf("service Other", "service MyApp\r\n"), "Other");
}

// Outside a service (every unit test): nothing reports, nothing is swallowed.
TEST(ServiceModeTest, OutsideAServiceNothingIsReported) {
    EXPECT_FALSE(kvx::platform::reportServiceMessage("text", 1));
    kvx::platform::reportServiceProgress();
    kvx::platform::serviceEndsWithProcess();
#ifndef _WIN32
    // systemd starts an ordinary process: the launch runs as an application. (Windows: the
    // dispatcher's refusal of a process it did not start is seen end to end, tests/wine.)
    ConfigStore store{AppString(""), AppString("service MyApp\r\n")};
    int exitCode = -5;
    EXPECT_FALSE(kvx::runAsServiceWhenStarted(store, [] { return 7; }, exitCode));
    EXPECT_EQ(exitCode, -5);
#endif
}
