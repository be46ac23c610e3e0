#include "config/ConfigStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "config/AppPaths.h"
#include "config/EmbeddedConfigText.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

#include "TestSupport.h"

using kvx::AppString;
using kvx::ConfigStore;
namespace fs = std::filesystem;

namespace {

using kvx::test::TempDir;

using Values = std::vector<std::string>;

void collect(void* context, const char* value) { static_cast<Values*>(context)->emplace_back(value); }

Values all(const ConfigStore& store, const char* key, bool embeddedOnly = false) {
    Values values;
    AppString result = store.find(key, collect, &values, embeddedOnly);
    EXPECT_TRUE(result.isEmpty());
    return values;
}

std::string get(const ConfigStore& store, const char* key, bool embeddedOnly = false) {
    return store.get(key, embeddedOnly).c_str();
}

// The value of `key` in a store of one embedded line.
std::string valueIn(const char* line, const char* key) { return get(ConfigStore("", line), key); }

AppString bytes(const char* text, size_t n) { return AppString(text, static_cast<int32_t>(n)); }


}  // namespace

TEST(ConfigStoreTest, SideFileComesFirstForSingleValuedKeys) {
    ConfigStore store("minjre 1.7", "minjre 1.6\r\nmainclass app.Main");
    EXPECT_EQ(get(store, "minjre"), "1.7");
    EXPECT_EQ(get(store, "minjre", true), "1.6");
}

TEST(ConfigStoreTest, MainClassIsReadFromTheEmbeddedBlockOnly) {
    ConfigStore store("mainclass other.Main\r\n", "mainclass app.Main");
    EXPECT_EQ(get(store, "mainclass", true), "app.Main");
    EXPECT_EQ(get(ConfigStore("mainclass other.Main", ""), "mainclass", true), "");
}

TEST(ConfigStoreTest, TextsAreJoinedWithCrLfOnlyAfterANonEmptySideText) {
    ConfigStore both("option a", "option b\r\noption c");
    EXPECT_EQ(both, "option a\r\noption b\r\noption c");
    EXPECT_EQ(both.sideTextLength(), 10);
    // An unterminated last side line stays a line of its own.
    EXPECT_EQ(all(both, "option"), (Values{"a", "b", "c"}));
    EXPECT_EQ(all(both, "option", true), (Values{"b", "c"}));

    ConfigStore embeddedOnly("", "option b");
    EXPECT_EQ(embeddedOnly, "option b");
    EXPECT_EQ(embeddedOnly.sideTextLength(), 0);

    ConfigStore sideOnly("option a\r\n", "");
    EXPECT_EQ(sideOnly, "option a\r\n\r\n");
    EXPECT_EQ(get(sideOnly, "option", true), "");
}

TEST(ConfigStoreTest, EmbeddedTextEndsAtItsFirstZeroByte) {
    ConfigStore store("", bytes("option a\r\n\0option b", 19));
    EXPECT_EQ(store.length(), 10);
    EXPECT_EQ(all(store, "option"), (Values{"a"}));
}

TEST(ConfigStoreTest, ZeroByteInSideFileHidesTheRestOfTheWholeText) {
    ConfigStore store(bytes("minjre 1.7\r\n\0option x\r\n", 23), "option y\r\nmainclass app.Main");
    EXPECT_EQ(get(store, "minjre"), "1.7");
    EXPECT_TRUE(all(store, "option").empty());
    EXPECT_EQ(get(store, "mainclass"), "");
    // The embedded block's own lookups start past the side text, zero byte or not.
    EXPECT_EQ(get(store, "mainclass", true), "app.Main");
    EXPECT_EQ(all(store, "option", true), (Values{"y"}));
}

TEST(ConfigStoreTest, ByteOrderMarkHidesTheFirstLine) {
    ConfigStore store("\xEF\xBB\xBFminjre 1.7\r\nminjre 1.8", "");
    EXPECT_EQ(get(store, "minjre"), "1.8");
}

TEST(ConfigStoreTest, LineSyntax) {
    EXPECT_EQ(valueIn("  option=  -Xmx256m  ", "option"), "-Xmx256m  ");
    EXPECT_EQ(valueIn("option==x", "option"), "=x");
    EXPECT_EQ(valueIn("option = = x", "option"), "= x");
    EXPECT_EQ(valueIn("OPTION -Xss1m", "option"), "-Xss1m");
    EXPECT_EQ(valueIn("option -Xss1m", "OpTiOn"), "-Xss1m");
    EXPECT_EQ(valueIn("option\t-Xss1m", "option"), "\t-Xss1m");
    EXPECT_EQ(valueIn("\toption -Xss1m", "option"), "");
    EXPECT_EQ(valueIn("optional value", "option"), "al value");
    EXPECT_EQ(valueIn("mainclassapp.Main", "mainclass"), "app.Main");
    EXPECT_EQ(valueIn("MainClass = app.Main", "mainclass"), "app.Main");
    EXPECT_EQ(valueIn("mainclass=app.Main\t ", "mainclass"), "app.Main\t ");
    EXPECT_EQ(valueIn("#option -Xmx1g", "option"), "");
    EXPECT_EQ(valueIn("opt", "option"), "");
    EXPECT_EQ(valueIn("option", "option"), "");
    EXPECT_EQ(valueIn("JRE_ORDER ie", "jre_order"), "ie");
    // Only A to Z fold: "@" and "`", "[" and "{" differ by the case bit but are not letters.
    EXPECT_EQ(valueIn("a` v", "a@"), "");
    EXPECT_EQ(valueIn("x{ v", "x["), "");
}

TEST(ConfigStoreTest, MixedLineEndsAndEmptyLines) {
    ConfigStore store("", "option a\roption b\noption c\r\noption d\n\roption e\r\r\n\noption f");
    EXPECT_EQ(all(store, "option"), (Values{"a", "b", "c", "d", "e", "f"}));
    // An empty line matches no key, not even one made of spaces.
    ConfigStore blank("", "\r\r \r\n");
    EXPECT_TRUE(all(blank, "option").empty());
}

TEST(ConfigStoreTest, MissingKeyGivesEmptyTextAndNoCallback) {
    ConfigStore store("side 1", "embedded 2");
    EXPECT_EQ(get(store, "minjre"), "");
    EXPECT_TRUE(all(store, "minjre").empty());
    ConfigStore empty("", "");
    EXPECT_EQ(empty.length(), 0);
    EXPECT_EQ(get(empty, "mainclass", true), "");
}

TEST(ConfigStoreTest, HugeAndDegenerateTexts) {
    std::string value(1 << 20, 'v');
    ConfigStore huge("", AppString(("classpath " + value).c_str()));
    EXPECT_EQ(get(huge, "classpath"), value);
    ConfigStore crs("", AppString(std::string(100000, '\r').c_str()));
    EXPECT_EQ(get(crs, "option"), "");
}

TEST(ConfigStoreTest, ForceCwdIsExpandedAndComesFromTheWholeStore) {
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_CWD", "C:\\work"));
    ConfigStore store("forcecwd %kvxtest_cwd%\\data", "forcecwd other");
    EXPECT_EQ(store.getForceCwd(), "C:\\work\\data");
    EXPECT_EQ(ConfigStore("", "").getForceCwd(), "");
}

TEST(ConfigStoreTest, AppHomeIsTheExecutableDirectoryNotTheText) {
    AppString savedDir = kvx::executableDir();
    AppString savedStartup = kvx::startupDir();
    kvx::setApplicationPaths("C:\\Apps\\tool.exe", "C:\\work/");
    ConfigStore store("", "forcecwd x");
    EXPECT_EQ(store.getAppHome(), "C:\\Apps\\");
    EXPECT_EQ(store.getModulePath(), "");
    kvx::setApplicationPaths(savedDir, savedStartup);
}

TEST(ConfigStoreTest, SideFileNames) {
    EXPECT_EQ(kvx::sideFileName("C:\\Apps\\tool.exe", ".cfg"), "C:\\Apps\\tool.cfg");
    EXPECT_EQ(kvx::sideFileName("C:\\Apps\\tool.exe", ".config"), "C:\\Apps\\tool.config");
    EXPECT_EQ(kvx::sideFileName("C:\\Apps\\TOOL.EXE", ".cfg"), "C:\\Apps\\TOOL.cfg");
    EXPECT_EQ(kvx::sideFileName("/opt/app/hello", ".cfg"), "/opt/app/hello.cfg");
    EXPECT_EQ(kvx::sideFileName("/opt/app.d/x", ".cfg"), "/opt/app.d/x.cfg");
    EXPECT_EQ(kvx::sideFileName("/opt/app/run.sh", ".config"), "/opt/app/run.sh.config");
    EXPECT_EQ(kvx::sideFileName("/opt/app/x.y.z", ".cfg"), "/opt/app/x.cfg");
    EXPECT_EQ(kvx::sideFileName("", ".cfg"), "");
    std::string longPath = "C:\\" + std::string(400, 'd') + "\\tool.exe";
    EXPECT_EQ(kvx::sideFileName(longPath.c_str(), ".config").length(), static_cast<int32_t>(longPath.size()) + 3);
}

TEST(ConfigStoreTest, CfgFileBeatsConfigFile) {
    TempDir dir;
    AppString module((dir / "tool.exe").c_str());
    AppString text("kept");
    EXPECT_FALSE(kvx::readSideFile(module, text));
    EXPECT_EQ(text, "kept");

    dir.write("tool.config", "minjre 1.8");
    text = "";
    EXPECT_TRUE(kvx::readSideFile(module, text));
    EXPECT_EQ(text, "minjre 1.8");

    dir.write("tool.cfg", std::string("minjre 1.7\0x", 12));
    text = "";
    EXPECT_TRUE(kvx::readSideFile(module, text));
    EXPECT_EQ(text.length(), 12);
    EXPECT_EQ(text, "minjre 1.7");

    // An empty .cfg is still the side file: the .config one is not read.
    dir.write("tool.cfg", "");
    text = "";
    EXPECT_TRUE(kvx::readSideFile(module, text));
    EXPECT_EQ(text.length(), 0);
}

TEST(ConfigStoreTest, SideFileByteOrderMarkIsSkipped) {
    TempDir dir;
    AppString module((dir / "tool.exe").c_str());
    dir.write("tool.cfg", "\xEF\xBB\xBFminjre 1.7\r\n\xEF\xBB\xBFoption x");
    AppString text;
    EXPECT_TRUE(kvx::readSideFile(module, text));
    // Only the leading mark goes; one further in is text like any other.
    EXPECT_EQ(text, "minjre 1.7\r\n\xEF\xBB\xBFoption x");
    ConfigStore store(text, "minjre 1.6");
    EXPECT_EQ(get(store, "minjre"), "1.7");
    dir.write("tool.cfg", "\xEF\xBB\xBF");
    text = "";
    EXPECT_TRUE(kvx::readSideFile(module, text));
    EXPECT_EQ(text.length(), 0);
    dir.write("tool.cfg", "\xEF\xBB");  // not a whole mark: kept
    text = "";
    EXPECT_TRUE(kvx::readSideFile(module, text));
    EXPECT_EQ(text, "\xEF\xBB");
}

TEST(ConfigStoreTest, DirectoryNamedLikeTheSideFileIsSkipped) {
    TempDir dir;
    fs::create_directory(dir / "tool.cfg");
    dir.write("tool.config", "minjre 1.8");
    AppString text;
    EXPECT_TRUE(kvx::readSideFile((dir / "tool.exe").c_str(), text));
    EXPECT_EQ(text, "minjre 1.8");
}

TEST(ConfigStoreTest, RealStoreRecordsTheProcessPaths) {
    AppString savedDir = kvx::executableDir();
    AppString savedStartup = kvx::startupDir();
    {
        ConfigStore store;
        AppString module = kvx::platform::modulePath();
        EXPECT_EQ(store.getModulePath(), module);
        EXPECT_EQ(kvx::executableDir(), kvx::directoryOf(module));
        EXPECT_FALSE(kvx::executableDir().isEmpty());
        EXPECT_EQ(kvx::startupDir(), kvx::startupDirFrom(kvx::platform::currentDirectory()));
        // The text is the executable's own embedded block (the build appends one to the test
        // executable; there is no side file beside it).
        EXPECT_EQ(store.sideTextLength(), 0);
        EXPECT_STREQ(store.c_str(), "mainclass kvx.unit.OwnText\r\noption -Dkvx.unit=own");
        EXPECT_EQ(store.get("mainclass", true), "kvx.unit.OwnText");
        EXPECT_FALSE(store.modulePathHasNoAnsiForm());
    }
    kvx::setApplicationPaths(savedDir, savedStartup);
}
