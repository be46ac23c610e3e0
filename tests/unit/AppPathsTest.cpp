#include "config/AppPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/ConfigStore.h"
#include "platform/FileSystem.h"

#include "TestSupport.h"

using kvx::AppString;
namespace fs = std::filesystem;

namespace {

std::string str(const AppString& s) { return s.c_str(); }

// A temporary tree: <root>/app/ (the executable's directory, with data/ and lib/a.jar)
// and <root>/work/ (the start-up directory). Saves and restores the process-wide paths,
// the current store and the working directory.
class AppPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedStore_ = kvx::currentConfigStore();
        savedCwd_ = fs::current_path();
        root_ = tree_.root();
        fs::create_directories(root_ / "app" / "data");
        tree_.touch("app/lib/a.jar", "x");
        tree_.touch("work/lib/b.jar", "x");
        sep_ = std::string(1, kvx::platform::nativeSeparator());
        appDir_ = tree_.appDir();
        workDir_ = tree_.startDir();
        kvx::setCurrentConfigStore(&store_);
        fs::current_path(root_ / "work");
    }
    void TearDown() override {
        fs::current_path(savedCwd_);
        kvx::setCurrentConfigStore(savedStore_);
    }

    bool cwdIs(const fs::path& expected) {
        std::error_code ec;
        return fs::equivalent(fs::current_path(), expected, ec);
    }
    std::string full(const AppString& base, const char* path) {
        char buffer[1024];
        uint32_t n = kvx::fullPathFrom(base, path, buffer, sizeof buffer);
        return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string("<failed>");
    }
    std::string platformFull(const char* path) {
        char buffer[1024];
        uint32_t n = kvx::platform::fullPathName(path, buffer, sizeof buffer);
        return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string("<failed>");
    }
    // `path` without its drive, so that it begins with a separator on every platform.
    static std::string rooted(const fs::path& path) {
        std::string s = path.string();
        return s.size() >= 2 && s[1] == ':' ? s.substr(2) : s;
    }

    kvx::test::AppTree tree_{"kvx-paths-", "tool.exe", "work"};
    fs::path root_;
    std::string sep_;
    std::string appDir_;
    std::string workDir_;
    kvx::ConfigStore store_{"", ""};

private:
    kvx::ConfigStore* savedStore_ = nullptr;
    fs::path savedCwd_;
};

}  // namespace

TEST(AppPathsFormTest, StartupDirectoryAlwaysEndsInASeparator) {
    EXPECT_EQ(str(kvx::startupDirFrom("C:\\work")), "C:\\work/");
    EXPECT_EQ(str(kvx::startupDirFrom("C:\\")), "C:\\");
    EXPECT_EQ(str(kvx::startupDirFrom("/home/ann/")), "/home/ann/");
    EXPECT_EQ(str(kvx::startupDirFrom("")), "/");
}

TEST(AppPathsFormTest, DirectoryKeepsItsLastSeparator) {
    EXPECT_EQ(str(kvx::directoryOf("C:\\Apps\\tool.exe")), "C:\\Apps\\");
    EXPECT_EQ(str(kvx::directoryOf("C:\\a/b\\c/tool.exe")), "C:\\a/b\\c/");
    EXPECT_EQ(str(kvx::directoryOf("/opt/app/hello")), "/opt/app/");
    EXPECT_EQ(str(kvx::directoryOf("tool.exe")), "");
    EXPECT_EQ(str(kvx::directoryOf("")), "");
    EXPECT_EQ(str(kvx::directoryOf("C:\\Apps\\")), "C:\\Apps\\");
}

TEST_F(AppPathsTest, ReadableTestPassesFilesAndDirectoriesOnly) {
    EXPECT_TRUE(kvx::isReadablePath(appDir_.c_str()));
    EXPECT_TRUE(kvx::isReadablePath((root_ / "app").string().c_str()));
    EXPECT_TRUE(kvx::isReadablePath((appDir_ + "lib" + sep_ + "a.jar").c_str()));
    EXPECT_FALSE(kvx::isReadablePath((appDir_ + "missing").c_str()));
    EXPECT_FALSE(kvx::isReadablePath(""));
    EXPECT_FALSE(kvx::isReadablePath(nullptr));
}

TEST_F(AppPathsTest, RelativePathTriesExecutableThenStartupDirectory) {
    std::string a = std::string("lib") + sep_ + "a.jar";
    std::string b = std::string("lib") + sep_ + "b.jar";
    std::string c = std::string("lib") + sep_ + "c.jar";
    EXPECT_EQ(str(kvx::resolveAppPath(a.c_str())), appDir_ + a);
    EXPECT_EQ(str(kvx::resolveAppPath(b.c_str())), workDir_ + b);
    EXPECT_EQ(str(kvx::resolveAppPath(c.c_str())), appDir_ + c);
    // Not normalised: the components stay as written.
    EXPECT_EQ(str(kvx::resolveAppPath("data/../lib/./a.jar")), appDir_ + "data/../lib/./a.jar");
    EXPECT_EQ(str(kvx::resolveAppPath("")), appDir_);
}

TEST_F(AppPathsTest, BesideExecutableNeverFallsBackToTheStartupDirectory) {
    std::string b = std::string("lib") + sep_ + "b.jar";  // only under the start-up directory
    EXPECT_EQ(str(kvx::resolveBesideExecutable(b.c_str())), appDir_ + b);
    EXPECT_EQ(str(kvx::resolveBesideExecutable("data/../x")), appDir_ + "data/../x");
    EXPECT_EQ(str(kvx::resolveBesideExecutable("")), appDir_);
    EXPECT_EQ(str(kvx::resolveBesideExecutable("/opt/x")), "/opt/x");
    EXPECT_EQ(str(kvx::resolveBesideExecutable("\\opt\\x")), "\\opt\\x");
    EXPECT_EQ(str(kvx::resolveBesideExecutable("C:x")), "C:x");
}

TEST_F(AppPathsTest, AbsolutePathsStayUnchanged) {
    EXPECT_EQ(str(kvx::resolveAppPath("/opt/x")), "/opt/x");
    EXPECT_EQ(str(kvx::resolveAppPath("\\opt\\x")), "\\opt\\x");
    EXPECT_EQ(str(kvx::resolveAppPath("C:x")), "C:x");
    EXPECT_EQ(str(kvx::resolveAppPath("C:")), "C:");
    EXPECT_EQ(str(kvx::resolveAppPath("x")), appDir_ + "x");
}

TEST_F(AppPathsTest, FullPathIsTakenRelativeToTheBase) {
    AppString base(appDir_.c_str());
    EXPECT_EQ(full(base, "data"), (root_ / "app" / "data").string());
    EXPECT_EQ(full(base, "data/../lib"), (root_ / "app" / "lib").string());
    EXPECT_EQ(full(base, ".."), root_.string());
    EXPECT_EQ(full(base, "missing"), (root_ / "app" / "missing").string());
    // A base without its trailing separator, or with the other one, gets one added.
    EXPECT_EQ(full((root_ / "app").string().c_str(), "data"), (root_ / "app" / "data").string());
    EXPECT_EQ(full(((root_ / "app").string() + "/").c_str(), "data"), (root_ / "app" / "data").string());
    // A rooted path keeps only the base's drive; a drive path ignores the base.
    EXPECT_EQ(full(base, rooted(root_ / "work").c_str()), (root_ / "work").string());
    EXPECT_EQ(full(base, (root_ / "work").string().c_str()), (root_ / "work").string());
    EXPECT_EQ(full(base, "Q:data"), platformFull("Q:data"));
}

TEST_F(AppPathsTest, RootedPathOnANetworkShareStaysOnTheShare) {
    EXPECT_EQ(full("\\\\server\\share\\apps\\", "\\temp"), platformFull("\\\\server\\share\\temp"));
    EXPECT_EQ(full("\\\\server\\share\\apps\\", "/temp"), platformFull("\\\\server\\share/temp"));
    EXPECT_EQ(full("\\\\server", "\\temp"), platformFull("\\\\server\\temp"));
}

TEST_F(AppPathsTest, FullPathReportsTheNeededSizeWhenTheBufferIsSmall) {
    char buffer[8];
    uint32_t n = kvx::fullPathFrom(appDir_.c_str(), "data", buffer, sizeof buffer);
    EXPECT_GE(n, sizeof buffer);
}

TEST_F(AppPathsTest, WorkingDirectoryIsRelativeToTheExecutable) {
    kvx::setWorkingDir("data");
    EXPECT_TRUE(cwdIs(root_ / "app" / "data"));
    kvx::setWorkingDir(".");
    EXPECT_TRUE(cwdIs(root_ / "app"));
    kvx::setWorkingDir("..");
    EXPECT_TRUE(cwdIs(root_));
    kvx::setWorkingDir(rooted(root_ / "work").c_str());
    EXPECT_TRUE(cwdIs(root_ / "work"));
    kvx::setWorkingDir((root_ / "app" / "lib").string().c_str());
    EXPECT_TRUE(cwdIs(root_ / "app" / "lib"));
    // The start-up directory is not changed by it.
    EXPECT_EQ(str(kvx::startupDir()), workDir_);
}

TEST_F(AppPathsTest, WorkingDirectoryStaysWhenTheChangeCannotBeMade) {
    kvx::setWorkingDir("missing");
    EXPECT_TRUE(cwdIs(root_ / "work"));
    kvx::setWorkingDir((std::string(300, 'd')).c_str());
    EXPECT_TRUE(cwdIs(root_ / "work"));
    kvx::setWorkingDir(nullptr);
    EXPECT_TRUE(cwdIs(root_ / "work"));
    kvx::setCurrentConfigStore(nullptr);
    kvx::setWorkingDir("data");
    EXPECT_TRUE(cwdIs(root_ / "work"));
}

TEST_F(AppPathsTest, WorkingDirectoryThatDoesNotFitIsNotEntered) {
    // A real directory whose full path is 260 characters or longer.
    fs::path deep = root_ / "app";
    std::string rel;
    while (deep.string().size() < 300) {
        deep /= std::string(50, 'd');
        rel += std::string(50, 'd') + sep_;
    }
    std::error_code ec;
    fs::create_directories(deep, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(fs::is_directory(deep));
    kvx::setWorkingDir(rel.c_str());
    EXPECT_TRUE(cwdIs(root_ / "work"));
}
