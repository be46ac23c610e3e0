#include "jre/ClassPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/StringPool.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

#include "TestSupport.h"

using kvx::AppString;
using kvx::test::SavedVariable;
using kvx::test::unsetVariable;
namespace fs = std::filesystem;

namespace {

// `path` with every "/" as the native separator: the separators the scan itself joins with.
std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/') c = kvx::platform::nativeSeparator();
    }
    return path;
}

std::string str(const AppString& s) { return s.c_str(); }

const char SEP = kvx::platform::classPathSeparator();

std::string joined(std::initializer_list<std::string> entries) {
    std::string text;
    for (const std::string& e : entries) {
        if (!text.empty()) text += SEP;
        text += e;
    }
    return text;
}

// Entries after the executable's own path (which never contains the separator).
std::vector<std::string> archives(const AppString& classPath, const std::string& module) {
    std::string text = str(classPath);
    std::vector<std::string> out;
    if (text.compare(0, module.size(), module) != 0) {
        out.push_back("<class path does not begin with the executable>");
        return out;
    }
    size_t pos = module.size();
    while (pos < text.size()) {
        if (text[pos] != SEP) {
            out.push_back("<missing separator>");
            return out;
        }
        size_t end = text.find(SEP, pos + 1);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos + 1, end - pos - 1));
        pos = end;
    }
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// A temporary tree with <root>/app/ as the executable's directory and <root>/start/ as the
// start-up directory; CLASSPATH and CLASS_PATH start unset.
class ClassPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = tree_.root();
        appDir_ = tree_.appDir();
        startDir_ = tree_.startDir();
        unsetVariable("CLASSPATH");
        unsetVariable("CLASS_PATH");
        module_ = str(kvx::platform::modulePath());
        ASSERT_FALSE(module_.empty());
    }

    void touch(const std::string& relative) { tree_.touch(relative, "PK"); }
    std::string classPath(const std::string& embedded, const std::string& side = "") {
        kvx::ConfigStore store(side.c_str(), embedded.c_str());
        return str(kvx::buildClassPath(store));
    }
    std::vector<std::string> libsArchives(const std::string& embedded) {
        kvx::ConfigStore store("", embedded.c_str());
        return archives(kvx::buildClassPath(store), module_);
    }

    kvx::test::AppTree tree_{"kvx-cp-", "run.exe", "start"};
    fs::path root_;
    std::string appDir_;
    std::string startDir_;
    std::string module_;
    SavedVariable classpathVar_{"CLASSPATH"};
    SavedVariable classPathVar_{"CLASS_PATH"};
};

}  // namespace

TEST_F(ClassPathTest, ClasspathValueSplitsOnSemicolonsAndSkipsEmptyPieces) {
    EXPECT_EQ(classPath("mainclass a.B\n"), module_);  // no keys, no variables
    EXPECT_EQ(classPath("classpath a.jar;;b.jar"), joined({module_, appDir_ + "a.jar", appDir_ + "b.jar"}));
    EXPECT_EQ(classPath("classpath ;"), module_);
    EXPECT_EQ(classPath("classpath ;;x.jar;"), joined({module_, appDir_ + "x.jar"}));
    // Pieces are not trimmed: the spaces belong to the neighbouring entries.
    EXPECT_EQ(classPath("classpath a.jar ; b.jar"), joined({module_, appDir_ + "a.jar ", appDir_ + " b.jar"}));
}

TEST_F(ClassPathTest, RelativeEntriesResolveBesideTheExecutableOnly) {
    // Classes planted in the folder the user starts from never reach the class path.
    touch("start/only-start.jar");
    touch("start/both.jar");
    touch("app/both.jar");
    EXPECT_EQ(classPath("classpath only-start.jar;both.jar;neither.jar"),
              joined({module_, appDir_ + "only-start.jar", appDir_ + "both.jar", appDir_ + "neither.jar"}));
}

TEST_F(ClassPathTest, AbsoluteEntriesAreKeptAndReferencesExpanded) {
    SavedVariable lib("KVXTEST_CP_LIB");
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_CP_LIB", "/opt/lib"));
    EXPECT_EQ(classPath("classpath D:\\lib\\x.jar;/opt/y.jar;\\share\\z.jar;%KVXTEST_CP_LIB%/w.jar"),
              joined({module_, "D:\\lib\\x.jar", "/opt/y.jar", "\\share\\z.jar", "/opt/lib/w.jar"}));
}

TEST_F(ClassPathTest, SideFileLinesComeBeforeEmbeddedLines) {
    EXPECT_EQ(classPath("classpath /e1.jar\nclasspath /e2.jar", "classpath /s.jar"),
              joined({module_, "/s.jar", "/e1.jar", "/e2.jar"}));
}

TEST_F(ClassPathTest, EnvironmentVariablesAddTheirNonEmptyEntries) {
    // Java reads an empty entry as the current directory: empty values and entries add nothing.
    ASSERT_TRUE(kvx::platform::setEnv("CLASSPATH", ""));
    ASSERT_TRUE(kvx::platform::setEnv("CLASS_PATH", ""));
    EXPECT_EQ(classPath(""), module_);
    const std::string sep(1, SEP);
    ASSERT_TRUE(kvx::platform::setEnv("CLASSPATH", (sep + "/a.jar" + sep + sep + "/b.jar" + sep).c_str()));
    ASSERT_TRUE(kvx::platform::setEnv("CLASS_PATH", (sep + sep).c_str()));
    EXPECT_EQ(classPath(""), joined({module_, "/a.jar", "/b.jar"}));

    // Otherwise not expanded, not resolved; both listed, CLASSPATH first.
    ASSERT_TRUE(kvx::platform::setEnv("CLASSPATH", "x.jar,%NOPE%"));
    ASSERT_TRUE(kvx::platform::setEnv("CLASS_PATH", "y.jar,%NOPE%"));
    EXPECT_EQ(classPath(""), joined({module_, "x.jar,%NOPE%", "y.jar,%NOPE%"}));

    unsetVariable("CLASSPATH");
    ASSERT_TRUE(kvx::platform::setEnv("CLASS_PATH", "/cp2"));
    touch("app/lib/l.jar");
    EXPECT_EQ(classPath("libs lib\nclasspath /c.jar"),
              joined({module_, "/c.jar", "/cp2", appDir_ + native("lib/l.jar")}));
}

TEST_F(ClassPathTest, LibraryScanTakesArchivesAtEveryDepthAndNothingElse) {
    touch("app/lib/x.jar");
    touch("app/lib/b.tar.JAR");
    touch("app/lib/a.jar.old");
    touch("app/lib/noext");
    touch("app/lib/ext/y.ZIP");
    touch("app/lib/ext/z.jar");
    touch("app/lib/ext/deeper/d.Zip");
    touch("app/lib/dir.jar/inner.zip");  // a directory is never an archive, but is scanned
    fs::create_directories(root_ / "app/lib/empty");

    std::vector<std::string> found = libsArchives("libs lib\n");
    const std::string lib = appDir_ + native("lib/");
    EXPECT_EQ(sorted(found), sorted({lib + "x.jar", lib + "b.tar.JAR", lib + native("ext/y.ZIP"),
                                     lib + native("ext/z.jar"), lib + native("ext/deeper/d.Zip"),
                                     lib + native("dir.jar/inner.zip")}));

    // A sub-directory's archives stand together, where the sub-directory was met.
    auto at = [&](const std::string& entry) { return std::find(found.begin(), found.end(), entry) - found.begin(); };
    const auto y = at(lib + native("ext/y.ZIP")), z = at(lib + native("ext/z.jar"));
    const auto d = at(lib + native("ext/deeper/d.Zip"));
    auto extFirst = std::min({y, z, d});
    auto extLast = std::max({y, z, d});
    EXPECT_EQ(extLast - extFirst, 2);
}

TEST_F(ClassPathTest, LibsValuesResolveExpandAndRepeat) {
    touch("app/top.jar");
    touch("app/sub/s.zip");
    touch("start/slib/t.jar");
    SavedVariable dir("KVXTEST_LIBS_DIR");
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_LIBS_DIR", (root_ / "start" / "slib").string().c_str()));

    // An empty value is the executable's own directory, which ends in its separator already.
    EXPECT_EQ(sorted(libsArchives("libs\n")), sorted({appDir_ + "top.jar", appDir_ + native("sub/s.zip")}));
    // Never relative to the start-up directory, even when only there.
    EXPECT_TRUE(libsArchives("libs slib\n").empty());
    EXPECT_EQ(libsArchives("libs %KVXTEST_LIBS_DIR%\n"),
              std::vector<std::string>({(root_ / "start" / "slib").string() + native("/t.jar")}));
    // Named twice: listed twice. Two names joined by ";" are one (missing) directory.
    EXPECT_EQ(libsArchives("libs sub\nlibs sub\n"),
              std::vector<std::string>({appDir_ + native("sub/s.zip"), appDir_ + native("sub/s.zip")}));
    EXPECT_TRUE(libsArchives("libs sub;slib\n").empty());
    EXPECT_TRUE(libsArchives("libs missing\n").empty());
}

TEST_F(ClassPathTest, ScanAppendsToWhatIsThere) {
    touch("app/lib/x.jar");
    AppString out("keep");
    kvx::scanLibraryDirectory(AppString((root_ / "app" / "lib").string().c_str()), out);
    EXPECT_EQ(str(out), "keep" + std::string(1, SEP) + (root_ / "app" / "lib").string() + native("/x.jar"));
    kvx::scanLibraryDirectory(AppString((root_ / "nowhere").string().c_str()), out);
    EXPECT_EQ(str(out), "keep" + std::string(1, SEP) + (root_ / "app" / "lib").string() + native("/x.jar"));
}

TEST(ClassPathCallbackTest, ExpandedValuesAreAddedWhole) {
    SavedVariable v("KVXTEST_OPT");
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_OPT", "256m"));
    kvx::StringPool pool;
    kvx::addExpandedValue(&pool, "-Xmx%KVXTEST_OPT%");
    kvx::addExpandedValue(&pool, "a;b %KVXTEST_NOT_SET_X%");
    kvx::addExpandedValue(&pool, "");
    ASSERT_EQ(pool.count(), 3);
    EXPECT_STREQ(pool.entry(0), "-Xmx256m");
    EXPECT_STREQ(pool.entry(1), "a;b %KVXTEST_NOT_SET_X%");
    EXPECT_STREQ(pool.entry(2), "");
}

#ifndef _WIN32
TEST_F(ClassPathTest, LinkBackToAnAncestorEndsTheDescent) {
    touch("app/lib/x.jar");
    touch("app/lib/a/a.jar");
    fs::create_directory_symlink(root_ / "app/lib", root_ / "app/lib/loop");    // to the top
    fs::create_directory_symlink(root_ / "app/lib", root_ / "app/lib/a/up");    // to an ancestor
    fs::create_directory_symlink(root_ / "app/lib/a", root_ / "app/lib/b");      // to a sibling: no cycle
    const std::string lib = appDir_ + "lib/";
    EXPECT_EQ(sorted(libsArchives("libs lib\n")), sorted({lib + "x.jar", lib + "a/a.jar", lib + "b/a.jar"}));
}
#endif
