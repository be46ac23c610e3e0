#include "natives/TrayIconRecord.h"
#include "natives/TrayNatives.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

using kvx::AppString;
using kvx::TrayIconRecord;
using kvx::TrayIconTexts;

namespace {

TrayIconRecord filled(uint32_t shell, const AppString* tip, const AppString* info, const AppString* title,
                      int32_t infoType = 0) {
    TrayIconRecord record;
    std::memset(&record.data, 0xAB, sizeof record.data);  // everything not set must come out zero
    record.shown = 0xAB;
    kvx::fillTrayIconRecord(record, shell, reinterpret_cast<HWND>(0x1234), 7, nullptr,
                            TrayIconTexts{tip, info, title}, infoType);
    return record;
}

}  // namespace

TEST(TrayIconRecordTest, BalloonSizeOnlyWithBothTextsOnANewShell) {
    AppString tip("tip"), empty(""), info("info");
    // The sizes of the shell's own layouts up to the tooltip and up to the balloon fields.
#if defined(_WIN64)
    EXPECT_EQ(filled(6, &tip, nullptr, nullptr).data.cbSize, 104u);
    EXPECT_EQ(filled(6, &tip, &info, &info).data.cbSize, 504u);
#else
    EXPECT_EQ(filled(6, &tip, nullptr, nullptr).data.cbSize, 88u);
    EXPECT_EQ(filled(6, &tip, &info, &info).data.cbSize, 488u);
#endif
    EXPECT_EQ(filled(6, &tip, nullptr, nullptr).data.cbSize, kvx::TRAY_RECORD_SIZE_TIP);
    EXPECT_EQ(filled(6, &tip, &empty, &empty).data.cbSize, kvx::TRAY_RECORD_SIZE_BALLOON);  // empty counts
    EXPECT_EQ(filled(5, &tip, &info, &info).data.cbSize, kvx::TRAY_RECORD_SIZE_BALLOON);
    EXPECT_EQ(filled(4, &tip, &info, &info).data.cbSize, kvx::TRAY_RECORD_SIZE_TIP);
    EXPECT_EQ(filled(6, &tip, &info, nullptr).data.cbSize, kvx::TRAY_RECORD_SIZE_TIP);
    EXPECT_EQ(filled(6, &tip, nullptr, &info).data.cbSize, kvx::TRAY_RECORD_SIZE_TIP);
}

TEST(TrayIconRecordTest, FieldsOfAFreshRecord) {
    AppString tip("Hello"), info("Body"), title("Title");
    TrayIconRecord r = filled(6, &tip, &info, &title, 2);
    EXPECT_EQ(r.shown, 0u);
    EXPECT_EQ(r.data.hWnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(r.data.uID, 7u);
    EXPECT_EQ(r.data.uFlags, 23u);
    EXPECT_EQ(r.data.uCallbackMessage, 1124u);
    EXPECT_EQ(r.data.hIcon, nullptr);
    EXPECT_STREQ(r.data.szTip, "Hello");
    EXPECT_STREQ(r.data.szInfo, "Body");
    EXPECT_STREQ(r.data.szInfoTitle, "Title");
    EXPECT_EQ(r.data.dwInfoFlags, 2u);
    EXPECT_EQ(r.data.dwState, 0u);
    EXPECT_EQ(r.data.dwStateMask, 0u);
    EXPECT_EQ(r.data.uTimeout, 0u);
    EXPECT_EQ(r.data.szTip[64], '\0');  // the rest of the larger tooltip field is zero
    EXPECT_EQ(r.data.szTip[127], '\0');
}

TEST(TrayIconRecordTest, TextsAreCutToTheirByteLimits) {
    AppString tip(std::string(100, 't').c_str()), info(std::string(300, 'i').c_str()),
        title(std::string(100, 'h').c_str());
    TrayIconRecord r = filled(6, &tip, &info, &title);
    EXPECT_EQ(std::string(r.data.szTip), std::string(63, 't'));
    EXPECT_EQ(std::string(r.data.szInfo), std::string(255, 'i'));
    EXPECT_EQ(std::string(r.data.szInfoTitle), std::string(63, 'h'));
}

TEST(TrayIconRecordTest, ChangeClearsTheTipAndKeepsAbsentBalloonTexts) {
    AppString tip("first"), info("body"), title("head");
    TrayIconRecord r = filled(6, &tip, &info, &title, 1);
    // The two-argument Change: no balloon, and its -1 is no info type.
    EXPECT_FALSE(kvx::changeTrayIconTexts(r, TrayIconTexts{nullptr, nullptr, nullptr}, -1));
    EXPECT_STREQ(r.data.szTip, "");
    EXPECT_STREQ(r.data.szInfo, "body");
    EXPECT_STREQ(r.data.szInfoTitle, "head");
    EXPECT_EQ(r.data.dwInfoFlags, 1u);
    AppString tip2("second"), info2("new body");
    EXPECT_TRUE(kvx::changeTrayIconTexts(r, TrayIconTexts{&tip2, &info2, nullptr}, 3));
    EXPECT_STREQ(r.data.szTip, "second");
    EXPECT_STREQ(r.data.szInfo, "new body");
    EXPECT_STREQ(r.data.szInfoTitle, "head");
    EXPECT_EQ(r.data.dwInfoFlags, 3u);
    EXPECT_TRUE(kvx::changeTrayIconTexts(r, TrayIconTexts{&tip2, nullptr, &title}, 4));
    EXPECT_EQ(r.data.dwInfoFlags, 3u);  // 4 names no icon: the type stays
    EXPECT_EQ(r.data.cbSize, kvx::TRAY_RECORD_SIZE_BALLOON);  // never changes
    EXPECT_EQ(filled(6, &tip, &info, &title, -1).data.dwInfoFlags, 0u);
    EXPECT_EQ(filled(6, &tip, &info, &title, 0x20).data.dwInfoFlags, 0u);
}

TEST(TrayIconRecordTest, ShellVersionProbe) {
    EXPECT_EQ(kvx::probeShellVersion("kvx-no-such-library.dll"), 4u);
    EXPECT_EQ(kvx::probeShellVersion("kernel32.dll"), 4u);  // no DllGetVersion: the default stays
    EXPECT_GE(kvx::probeShellVersion("shell32.dll"), 5u);
    EXPECT_GE(kvx::shellMajorVersion, 5u);  // the probe ran before the tests
}
