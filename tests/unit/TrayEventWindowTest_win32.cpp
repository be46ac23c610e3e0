#include "natives/TrayEventWindow.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Delivery {
    uintptr_t a;
    intptr_t b;
    DWORD thread;
};
std::vector<Delivery> g_mouse;
std::vector<uint32_t> g_commands;
DWORD g_commandThread = 0;

void onMouse(uintptr_t id, intptr_t notification) { g_mouse.push_back({id, notification, GetCurrentThreadId()}); }
void onCommand(uint32_t command) {
    g_commands.push_back(command);
    g_commandThread = GetCurrentThreadId();
}

}  // namespace

// One process has one tray window, so the whole life runs in one test: start, deliveries,
// then a second start whose class registration fails.
TEST(TrayEventWindowTest, DeliversOnlyAcceptedMessagesOnItsOwnThreadAndFailsPromptly) {
    EXPECT_EQ(kvx::trayEventWindowHandle(), nullptr);
    ASSERT_NE(kvx::startTrayEventWindow(onMouse, onCommand), nullptr);
    HWND window = kvx::trayEventWindowHandle();
    ASSERT_NE(window, nullptr);
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    EXPECT_STREQ(name, "KVXMESSAGE");
    GetWindowTextA(window, name, sizeof name);
    EXPECT_STREQ(name, "KVXMESSAGE");
    EXPECT_FALSE(IsWindowVisible(window));
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    EXPECT_NE(windowThread, GetCurrentThreadId());

    const WPARAM commands[] = {50000, 51000, 49999, 51001, MAKEWPARAM(50005, 1), 50500};
    for (WPARAM w : commands) EXPECT_EQ(SendMessageA(window, WM_COMMAND, w, 0), 0);
    ASSERT_EQ(g_commands.size(), 3u);
    EXPECT_EQ(g_commands[0], 50000u);
    EXPECT_EQ(g_commands[1], 51000u);
    EXPECT_EQ(g_commands[2], 50500u);
    EXPECT_EQ(g_commandThread, windowThread);

    EXPECT_EQ(SendMessageA(window, 1124, 3, 513), 0);
    EXPECT_EQ(SendMessageA(window, 1124, 0x7fffffff, -12345), 0);  // passed on unchanged
    ASSERT_EQ(g_mouse.size(), 2u);
    EXPECT_EQ(g_mouse[0].a, 3u);
    EXPECT_EQ(g_mouse[0].b, 513);
    EXPECT_EQ(g_mouse[1].a, 0x7fffffffu);
    EXPECT_EQ(g_mouse[1].b, -12345);
    EXPECT_EQ(g_mouse[0].thread, windowThread);
    EXPECT_FALSE(IsWindowVisible(window));

    // A second window cannot register the class again: the starter is not kept waiting and
    // from then on no window handle is handed out.
    DWORD before = GetTickCount();
    kvx::startTrayEventWindow(onMouse, onCommand);
    EXPECT_LT(GetTickCount() - before, 10000u);
    EXPECT_EQ(kvx::trayEventWindowHandle(), nullptr);
}
