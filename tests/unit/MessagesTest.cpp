#include "launcher/Messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using kvx::AppString;
using kvx::platform::StringBlock;

namespace {

// A block on the heap of exactly `units.size()` units, so AddressSanitizer sees any read past it.
class HeapBlock {
public:
    explicit HeapBlock(const std::vector<uint16_t>& units)
        : data_(new uint16_t[units.size() ? units.size() : 1]), count_(static_cast<uint32_t>(units.size())) {
        for (size_t i = 0; i < units.size(); ++i) data_[i] = units[i];
    }
    StringBlock block() const { return StringBlock{data_.get(), count_}; }

private:
    std::unique_ptr<uint16_t[]> data_;
    uint32_t count_;
};

// A well-formed block: 16 counted strings, the given ASCII texts at positions 0, 1, ...
std::vector<uint16_t> blockOf(const std::vector<std::string>& texts) {
    std::vector<uint16_t> units;
    for (size_t pos = 0; pos < 16; ++pos) {
        std::string text = pos < texts.size() ? texts[pos] : "";
        units.push_back(static_cast<uint16_t>(text.size()));
        for (char c : text) units.push_back(static_cast<uint8_t>(c));
    }
    return units;
}

std::string lookup(int32_t id, const StringBlock& block) {
    AppString out("stale");
    kvx::stringFromBlock(out, id, block);
    return out.c_str();
}

const char* const PATTERN_EN = "Java virtual machine version %d.%d is too low, require %d.%d or higher.";

}  // namespace

TEST(MessagesTest, WalkFindsEveryPositionOfABlock) {
    std::vector<std::string> texts;
    for (int i = 0; i < 16; ++i) texts.push_back(i == 0 ? "" : "text " + std::to_string(i));
    texts[9] = "";  // a gap in the middle, like the unused identifier 9
    HeapBlock heap(blockOf(texts));
    for (int32_t id = 0; id < 16; ++id) EXPECT_EQ(lookup(id, heap.block()), texts[id]) << "id " << id;
    // Identifiers of other blocks land on their position within their own block.
    EXPECT_EQ(lookup(16 + 3, heap.block()), "text 3");
    EXPECT_EQ(lookup(0xFFFF, heap.block()), "text 15");
    EXPECT_EQ(lookup(-1, heap.block()), "");
}

TEST(MessagesTest, WalkHandsExactlyTheEntrysUnitsToTheConversion) {
    // "錯誤" (U+932F U+8AA4) at position 10, the caption, followed by more text at 11.
    const uint16_t caption[] = {0x932F, 0x8AA4};
    std::vector<uint16_t> units = blockOf({});
    units[10] = 2;
    units.insert(units.begin() + 11, caption, caption + 2);
    units[13] = 1;
    units.insert(units.begin() + 14, 'z');
    HeapBlock heap(units);
    AppString out;
    kvx::stringFromBlock(out, 10, heap.block());
    AppString expected;
    expected.assignWide(caption, 2);
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_STREQ(out.c_str(), expected.c_str());
    EXPECT_EQ(lookup(11, heap.block()), "z");
}

TEST(MessagesTest, MalformedBlocksNeverReadOutside) {
    // The wanted entry's count runs past the end: the text is clipped to the block.
    HeapBlock clipped({0, 5, 'a', 'b'});
    EXPECT_EQ(lookup(1, clipped.block()), "ab");
    // The count is exactly what is left: the whole text.
    HeapBlock exact({0, 2, 'a', 'b'});
    EXPECT_EQ(lookup(1, exact.block()), "ab");
    // A skipped entry jumps past the end: every later position reads as 0, so empty text.
    HeapBlock jump({0xFFFF, 'x'});
    for (int32_t id = 1; id < 16; ++id) EXPECT_EQ(lookup(id, jump.block()), "") << "id " << id;
    // A count as the very last unit: its text would start outside.
    HeapBlock lastUnit({0, 7});
    EXPECT_EQ(lookup(1, lastUnit.block()), "");
    // A block of one odd unit, an empty block, and no block at all.
    HeapBlock single({3});
    EXPECT_EQ(lookup(0, single.block()), "");
    HeapBlock none({});
    EXPECT_EQ(lookup(15, none.block()), "");
    EXPECT_EQ(lookup(4, StringBlock{}), "");
    // Largest counts at every step: positions grow far beyond the block without wrapping.
    std::vector<uint16_t> big(16, 0xFFFF);
    HeapBlock huge(big);
    EXPECT_EQ(lookup(15, huge.block()), "");
}

TEST(MessagesTest, VersionMessageTakesTheFourNumbersInOrder) {
    AppString out;
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, PATTERN_EN, 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "Java virtual machine version 1.5 is too low, require 1.6 or higher.");
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, PATTERN_EN, 20, 45, 21, 0);
    EXPECT_STREQ(out.c_str(), "Java virtual machine version 20.45 is too low, require 21.0 or higher.");
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, PATTERN_EN, -1, 2147483647, 0, -2147483647 - 1);
    EXPECT_STREQ(out.c_str(),
                 "Java virtual machine version -1.2147483647 is too low, require 0.-2147483648 or higher.");
    // A missing string gives an empty pattern and so an empty text.
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, "", 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "");
}

TEST(MessagesTest, OnlyTheVersionMessageIsAPattern) {
    AppString out;
    // Any other code shows its text as it is, percent signs included.
    kvx::formatLaunchMessage(out, kvx::LAUNCH_MAIN_CLASS_NOT_FOUND, "100% %d %s %n", 1, 2, 3, 4);
    EXPECT_STREQ(out.c_str(), "100% %d %s %n");
    // A version pattern with a conversion that could read what is not there is not formatted.
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, "%d.%d %s", 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "%d.%d %s");
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, "%d %d %d %d %d", 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "%d %d %d %d %d");
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, "100%% of %d.%d", 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "100% of 1.5");
    kvx::formatLaunchMessage(out, kvx::LAUNCH_VERSION_TOO_LOW, "trailing %", 1, 5, 1, 6);
    EXPECT_STREQ(out.c_str(), "trailing %");
}

TEST(MessagesTest, IdentifiersWithoutABlockGiveNothing) {
    AppString out("stale");
    // No executable carries block 41; identifiers outside 0..65535 name no string at all.
    EXPECT_FALSE(kvx::loadStringResource(out, 16 * 40));
    EXPECT_STREQ(out.c_str(), "");
    out = "stale";
    EXPECT_FALSE(kvx::loadStringResource(out, -1));
    EXPECT_STREQ(out.c_str(), "");
    EXPECT_FALSE(kvx::loadStringResource(out, 0x10000));
}

namespace {

// Every identifier of block 1 and its text in English (1033), Chinese Taiwan (1028) and
// Chinese PRC (2052); "" where the block holds nothing.
struct MessageRow {
    int32_t id;
    const char* text[3];
};

const MessageRow MESSAGE_TABLE[] = {
    {0, {"", "", ""}},
    {1, {"Java Runtime Environment not found.", "Java 運行環境未找到。", "Java 运行环境未找到。"}},
    {2, {"Java Runtime Environment not valid.", "Java 運行環境無效。", "Java 运行环境无效。"}},
    {3, {"Java Virtual Machine initialize failed.", "Java 虛擬機初始化失敗。", "Java 虚拟机初始化失败。"}},
    {4, {"Java Virtual Machine starts failed.", "Java 虛擬機創建失敗。", "Java 虚拟机创建失败。"}},
    {5, {"Can not get the virtual machine version.", "未能獲取 Java 虛擬機版本。", "未能获取 Java 虚拟机版本。"}},
    {6,
     {"Java virtual machine version %d.%d is too low, require %d.%d or higher.",
      "Java 虛擬機版本 %d.%d 太低，需要 %d.%d 或更高版本。", "Java 虚拟机版本 %d.%d 太低，需要 %d.%d 或更高版本。"}},
    {7, {"The main startup class could not be found.", "主啟動類未找到。", "主启动类未找到。"}},
    {8, {"The main startup class is not valid, main method missing.", "主啟動類無效，缺少 main 方法。",
         "主启动类无效，缺少 main 方法。"}},
    {9, {"A Java runtime was found at %s, but it is %d-bit; this program is %d-bit.",
         "在 %s 找到了 Java 運行環境，但它是 %d 位元的；本程式是 %d 位元的。",
         "在 %s 找到了 Java 运行环境，但它是 %d 位的；本程序是 %d 位的。"}},
    {10, {"Error", "錯誤", "错误"}},
    {11, {"", "", ""}},
    {12,
     {"This program's folder name cannot be written in the system's code page, and the drive has no short "
      "(8.3) name for it. Move the program to a folder whose path uses only characters of the system's "
      "language.",
      "本程式所在資料夾的名稱無法以系統字碼頁表示，且該磁碟機沒有它的 8.3 短名稱。請將程式移至路徑只含系統語言字元的資料夾。",
      "本程序所在文件夹的名称无法用系统代码页表示，且该驱动器没有它的 8.3 短名称。请将程序移到路径只含系统语言字符的文件夹。"}},
    {13,
     {"Cannot write to the folder %s, where this program keeps its libraries. Free some disk space, or make the "
      "folder writable by you alone, and start the program again.",
      "無法寫入資料夾 %s，本程式的程式庫存放在那裡。請釋放磁碟空間，或讓該資料夾只有您可寫入，然後重新啟動程式。",
      "无法写入文件夹 %s，本程序的库存放在那里。请释放磁盘空间，或让该文件夹只有您可写入，然后重新启动程序。"}},
    {14, {"This program is already running, but it did not answer. Try again in a moment.",
          "本程式已在執行中，但沒有回應。請稍後再試。", "本程序已在运行，但没有响应。请稍后再试。"}},
    {15, {"This program is already running, but it did not take the arguments of this start.",
          "本程式已在執行中，但沒有接受這次啟動的參數。", "本程序已在运行，但没有接受这次启动的参数。"}},
};

}  // namespace

#ifdef _WIN32
#include <windows.h>

namespace {

// Entry `id` of block 1 in exactly `language`, as UTF-16 from the test executable's own
// resources (it carries the launcher's string table), walked as the lookup walks it.
std::u16string resourceEntry(int32_t id, WORD language) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(self, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW(1), language);
    if (!found) return u"<no block>";
    HGLOBAL loaded = LoadResource(self, found);
    const uint16_t* units = loaded ? static_cast<const uint16_t*>(LockResource(loaded)) : nullptr;
    if (!units) return u"<no data>";
    StringBlock block{units, static_cast<uint32_t>(SizeofResource(self, found) / 2)};
    uint64_t pos = 0;
    for (int32_t i = 0; i < id; ++i) pos += 1 + (pos < block.count ? block.units[pos] : 0);
    if (pos >= block.count) return u"<outside>";
    uint32_t length = block.units[pos];
    if (pos + 1 + length > block.count) return u"<clipped>";
    return std::u16string(reinterpret_cast<const char16_t*>(block.units + pos + 1), length);
}

std::u16string utf16(const char* utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
    return std::u16string(wide.begin(), wide.end());
}

}  // namespace

TEST(MessagesTest, ResourceHoldsEveryTextInEveryLanguage) {
    const WORD LANGUAGES[3] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                               MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL),
                               MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};
    for (int language = 0; language < 3; ++language) {
        for (const MessageRow& row : MESSAGE_TABLE) {
            EXPECT_TRUE(resourceEntry(row.id, LANGUAGES[language]) == utf16(row.text[language]))
                << "language " << LANGUAGES[language] << " id " << row.id;
        }
    }
}

TEST(MessagesTest, ResourceLookupGivesTheEnglishTextsAsAnsi) {
    // The unit tests run with an English user language: the platform's own choice of variant.
    for (const MessageRow& row : MESSAGE_TABLE) {
        AppString out;
        EXPECT_TRUE(kvx::loadStringResource(out, row.id));
        EXPECT_STREQ(out.c_str(), row.text[0]) << "id " << row.id;
    }
}
#endif

#ifndef _WIN32
// The Linux build carries the string table of the resource script; the Windows one is the
// executable's own resource, which only the end-to-end tests of kvx.exe can reach.
namespace {

class LocaleScope {
public:
    LocaleScope(const char* all, const char* messages, const char* lang) {
        for (const char* name : NAMES) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::make_unique<std::string>(v) : nullptr);
        }
        set("LC_ALL", all);
        set("LC_MESSAGES", messages);
        set("LANG", lang);
    }
    ~LocaleScope() {
        for (size_t i = 0; i < 3; ++i) set(NAMES[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }

private:
    static void set(const char* name, const char* value) {
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    static constexpr const char* NAMES[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::unique_ptr<std::string>> saved_;
};

std::string message(int32_t id) {
    AppString out;
    EXPECT_TRUE(kvx::loadStringResource(out, id));
    return out.c_str();
}

}  // namespace

TEST(MessagesTest, LinuxTableHoldsEveryTextInEveryLanguage) {
    const char* const LOCALES[3] = {"en_US.UTF-8", "zh_TW.UTF-8", "zh_CN.UTF-8"};
    for (int language = 0; language < 3; ++language) {
        LocaleScope scope(LOCALES[language], nullptr, nullptr);
        for (const MessageRow& row : MESSAGE_TABLE) {
            EXPECT_EQ(message(row.id), row.text[language]) << LOCALES[language] << " id " << row.id;
        }
        // Block 2: the offer of a jre_url address.
        const char* const WHERE[3] = {"A Java runtime is available at: %s", "可在此取得 Java 運行環境：%s",
                                      "可在此获取 Java 运行环境：%s"};
        const char* const QUESTION[3] = {"Open this address in your browser?", "要在瀏覽器中開啟此網址嗎？",
                                         "要在浏览器中打开此网址吗？"};
        EXPECT_EQ(message(16), WHERE[language]);
        EXPECT_EQ(message(17), QUESTION[language]);
        AppString out("stale");
        EXPECT_FALSE(kvx::loadStringResource(out, 32)) << "only blocks 1 and 2 exist";
    }
}

TEST(MessagesTest, LinuxLanguageComesFromTheFirstLocaleVariableSet) {
    {
        LocaleScope scope("", "zh_TW.UTF-8", "zh_CN.UTF-8");  // empty LC_ALL does not count
        EXPECT_EQ(message(10), "錯誤");
    }
    {
        LocaleScope scope(nullptr, nullptr, "zh_CN");
        EXPECT_EQ(message(10), "错误");
    }
    {
        LocaleScope scope("C", "zh_TW.UTF-8", nullptr);  // LC_ALL wins even when it is plain C
        EXPECT_EQ(message(10), "Error");
    }
    {
        LocaleScope scope("zh_TWX.UTF-8", nullptr, nullptr);  // only the whole territory name counts
        EXPECT_EQ(message(10), "Error");
    }
    {
        LocaleScope scope(nullptr, nullptr, nullptr);
        EXPECT_EQ(message(10), "Error");
    }
}

TEST(MessagesTest, LinuxComposesTheVersionMessage) {
    LocaleScope scope("zh_CN.UTF-8", nullptr, nullptr);
    AppString text;
    AppString caption;
    kvx::composeLaunchError(text, caption, kvx::LAUNCH_VERSION_TOO_LOW, 1, 5, 1, 6);
    EXPECT_STREQ(text.c_str(), "Java 虚拟机版本 1.5 太低，需要 1.6 或更高版本。");
    EXPECT_STREQ(caption.c_str(), "错误");
    kvx::composeLaunchError(text, caption, 3, 1, 5, 1, 6);
    EXPECT_STREQ(text.c_str(), "Java 虚拟机初始化失败。");
    // An identifier without an entry still gets the caption.
    kvx::composeLaunchError(text, caption, 11, 0, 0, 0, 0);
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_STREQ(caption.c_str(), "错误");
}

TEST(MessagesTest, ArchitectureMessageNamesThePathAndBothWordSizesInThreeLanguages) {
    struct Case {
        const char* locale;
        const char* text;
    } cases[] = {
        {"en_US.UTF-8", "A Java runtime was found at /jdk/lib/server/libjvm.so, but it is 32-bit; this program is 64-bit."},
        {"zh_TW.UTF-8", "在 /jdk/lib/server/libjvm.so 找到了 Java 運行環境，但它是 32 位元的；本程式是 64 位元的。"},
        {"zh_CN.UTF-8", "在 /jdk/lib/server/libjvm.so 找到了 Java 运行环境，但它是 32 位的；本程序是 64 位的。"},
    };
    for (const Case& c : cases) {
        LocaleScope scope(c.locale, nullptr, nullptr);
        AppString pattern;
        ASSERT_TRUE(kvx::loadStringResource(pattern, kvx::LAUNCH_JRE_WRONG_ARCHITECTURE));
        AppString text;
        kvx::formatArchitectureMessage(text, pattern, "/jdk/lib/server/libjvm.so", 32, 64);
        EXPECT_STREQ(text.c_str(), c.text) << c.locale;
    }
}

TEST(MessagesTest, ArchitecturePatternOfAnotherShapeIsNeverAFormat) {
    AppString text;
    // A path with conversions of its own is data, never a format.
    kvx::formatArchitectureMessage(text, AppString("at %s: %d/%d"), "C:\\%d%s\\jvm.dll", 64, 32);
    EXPECT_STREQ(text.c_str(), "at C:\\%d%s\\jvm.dll: 64/32");
    for (const char* bad : {"%d %s %d", "%s %d", "%s %d %d %d", "%s %d %x", "%n%s%d%d"}) {
        kvx::formatArchitectureMessage(text, AppString(bad), "p", 64, 32);
        EXPECT_STREQ(text.c_str(), bad);
    }
    kvx::formatArchitectureMessage(text, AppString("100%% %s %d %d"), "p", 64, 32);
    EXPECT_STREQ(text.c_str(), "100% p 64 32");
}

TEST(MessagesTest, LinuxWarningIsOneLineOnStandardError) {
    testing::internal::CaptureStderr();
    kvx::platform::showWarning("Java Runtime Environment not found.", "Error", nullptr);
    kvx::platform::showWarning("no caption", "", nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Java Runtime Environment not found.\nno caption\n");
}
#endif
