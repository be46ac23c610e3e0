#include "jre/JvmDiscovery.h"
#include "jre/LibraryArchitecture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/JavaRuntime.h"

#include "TestSupport.h"

#ifdef _WIN32
#include <windows.h>  // the registry tests write their own keys
#endif

using kvx::AppString;
using kvx::test::SavedVariable;
using kvx::test::unsetVariable;
namespace fs = std::filesystem;

namespace {

std::string str(const AppString& s) { return s.c_str(); }

const std::string LIB = kvx::platform::jvmLibraryName();
std::string suffix(int i) { return kvx::platform::javaHomeSuffix(i); }

// A temporary tree with <root>/app/ as the executable's directory and <root>/start/ as the
// start-up directory; JRE_HOME and JAVA_HOME start unset.
class JvmDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = tree_.root();
        sep_ = std::string(1, kvx::platform::nativeSeparator());
        appDir_ = tree_.appDir();
        startDir_ = tree_.startDir();
        unsetVariable("JRE_HOME");
        unsetVariable("JAVA_HOME");
    }

    // Creates the file `relative` (may contain either separator) under the root and
    // returns the root-based path as written.
    std::string touch(const std::string& relative) { return tree_.touch(relative, "runtime"); }
    std::string dir(const std::string& relative) {
        fs::create_directories(root_ / relative);
        return (root_ / relative).string();
    }
    AppString home(const std::string& relative) { return AppString((root_ / relative).string().c_str()); }

    kvx::test::AppTree tree_{"kvx-jre-", "run.exe", "start"};
    fs::path root_;
    std::string sep_;
    std::string appDir_;
    std::string startDir_;
    SavedVariable jreHome_{"JRE_HOME"};
    SavedVariable javaHome_{"JAVA_HOME"};
};

}  // namespace

TEST_F(JvmDiscoveryTest, HomeSearchTriesEverySuffixAndOneLevelOfSubdirectories) {
    for (int i = 0; i < kvx::platform::javaHomeSuffixCount(); ++i) {
        SCOPED_TRACE(i);
        // The last suffix climbs out of the home: keep every case in a parent of its own.
        std::string h = "case" + std::to_string(i) + "/home";
        dir(h);
        touch(h + "/" + suffix(i) + "client/" + LIB);
        EXPECT_EQ(str(kvx::findJvmInHome(home(h))), (root_ / h).string() + sep_ + suffix(i) + "client" + sep_ + LIB);
    }
}

TEST_F(JvmDiscoveryTest, HomeSearchOrderDirectThenSubdirectoriesThenNextSuffix) {
    // Direct file in the home beats everything.
    touch("a/" + LIB);
    touch("a/server/" + LIB);
    touch("a/" + suffix(1) + LIB);
    EXPECT_EQ(str(kvx::findJvmInHome(home("a"))), (root_ / "a").string() + sep_ + LIB);

    // A sub-directory of the empty suffix beats a later suffix's direct file. (The second
    // suffix is one level deep itself, so its direct file counts as such a sub-directory.)
    touch("b/server/" + LIB);
    touch("b/" + suffix(2) + LIB);
    EXPECT_EQ(str(kvx::findJvmInHome(home("b"))), (root_ / "b").string() + sep_ + "server" + sep_ + LIB);
    touch("f/" + suffix(1) + LIB);
    std::string f = (root_ / "f").string();
    std::string f1AsSubdirectory = f + sep_ + suffix(1).substr(0, suffix(1).size() - 1) + sep_ + LIB;
    EXPECT_EQ(str(kvx::findJvmInHome(home("f"))), f1AsSubdirectory);

    // Within one suffix the direct file beats its sub-directories.
    touch("c/" + suffix(2) + LIB);
    touch("c/" + suffix(2) + "client/" + LIB);
    EXPECT_EQ(str(kvx::findJvmInHome(home("c"))), (root_ / "c").string() + sep_ + suffix(2) + LIB);
}

TEST_F(JvmDiscoveryTest, HomeSearchIgnoresDeeperLevelsFilesAndMissingHomes) {
    touch("d/" + suffix(1) + "x/client/" + LIB);  // two levels below the suffix
    touch("d/" + suffix(2) + "client");           // a file, not a directory
    EXPECT_EQ(str(kvx::findJvmInHome(home("d"))), "");
    EXPECT_EQ(str(kvx::findJvmInHome(home("missing"))), "");
}

TEST_F(JvmDiscoveryTest, HomeEndingInASeparatorGetsNoSlash) {
    touch("e/" + LIB);
    std::string e = (root_ / "e").string();
    EXPECT_EQ(str(kvx::findJvmInHome(AppString((e + "/").c_str()))), e + "/" + LIB);
    EXPECT_EQ(str(kvx::findJvmInHome(AppString((e + sep_).c_str()))), e + sep_ + LIB);
}

TEST_F(JvmDiscoveryTest, EnvironmentSkipsEmptyJreHomeAndUsesJavaHome) {
    touch("jdk/" + suffix(2) + "client/" + LIB);
    ASSERT_TRUE(kvx::platform::setEnv("JRE_HOME", ""));
    ASSERT_TRUE(kvx::platform::setEnv("JAVA_HOME", (root_ / "jdk").string().c_str()));
    EXPECT_EQ(str(kvx::findJvmFromEnvironment()), (root_ / "jdk").string() + sep_ + suffix(2) + "client" + sep_ + LIB);

    // A JRE_HOME without a runtime falls through as well; a good one wins.
    ASSERT_TRUE(kvx::platform::setEnv("JRE_HOME", dir("empty").c_str()));
    EXPECT_EQ(str(kvx::findJvmFromEnvironment()), (root_ / "jdk").string() + sep_ + suffix(2) + "client" + sep_ + LIB);
    touch("jre/" + suffix(2) + LIB);
    ASSERT_TRUE(kvx::platform::setEnv("JRE_HOME", (root_ / "jre").string().c_str()));
    EXPECT_EQ(str(kvx::findJvmFromEnvironment()), (root_ / "jre").string() + sep_ + suffix(2) + LIB);

    unsetVariable("JRE_HOME");
    unsetVariable("JAVA_HOME");
    EXPECT_EQ(str(kvx::findJvmFromEnvironment()), "");
}

TEST_F(JvmDiscoveryTest, OrderLettersSelectMethods) {
    // Method c finds app/rt/<lib>; method e finds env/<lib>.
    touch("app/rt/" + LIB);
    touch("env/" + LIB);
    ASSERT_TRUE(kvx::platform::setEnv("JRE_HOME", (root_ / "env").string().c_str()));
    const std::string viaConfig = appDir_ + "rt/" + LIB;
    const std::string viaEnvironment = (root_ / "env").string() + sep_ + LIB;
    auto found = [&](const std::string& order) {
        std::string text = "jvmdll rt/" + LIB + "\n";
        if (!order.empty()) text += "jre_order " + order + "\n";
        kvx::ConfigStore store("", text.c_str());
        return str(kvx::findJvmLibrary(store));
    };
    EXPECT_EQ(found(""), viaConfig);       // default csie
    EXPECT_EQ(found("E"), viaEnvironment); // lower-cased
    EXPECT_EQ(found("123"), viaConfig);    // no method letter: csie
    EXPECT_EQ(found("e-s"), viaEnvironment);
    EXPECT_EQ(found("ee"), viaEnvironment);
    EXPECT_EQ(found("x-E-C"), viaEnvironment);

    // Every method failing ends in empty text, also when a letter repeats.
    unsetVariable("JRE_HOME");
    kvx::ConfigStore nothing("", "jvmdll missing/lib\njre_order ece\n");
    EXPECT_EQ(str(kvx::findJvmLibrary(nothing)), "");
}

TEST_F(JvmDiscoveryTest, ConfiguredPathIsTakenBesideTheExecutableOnly) {
    std::string relative = "jre/bin/client/" + LIB;
    std::string text = "jvmdll " + relative + "\njre_order c\n";
    kvx::ConfigStore store("", text.c_str());

    EXPECT_EQ(str(kvx::findJvmFromConfig(store)), "");  // in neither place
    // A runtime planted in the start-up directory is never loaded.
    touch("start/" + relative);
    EXPECT_EQ(str(kvx::findJvmFromConfig(store)), "");
    touch("app/" + relative);
    EXPECT_EQ(str(kvx::findJvmFromConfig(store)), appDir_ + relative);
    EXPECT_EQ(str(kvx::findJvmLibrary(store)), appDir_ + relative);
}

TEST_F(JvmDiscoveryTest, ConfiguredPathExpandsReferencesAndKeepsAbsolutePaths) {
    std::string absolute = touch("abs/" + LIB);
    SavedVariable unset("KVXTEST_UNSET_RT");
    unsetVariable("KVXTEST_UNSET_RT");
    SavedVariable set("KVXTEST_RT_DIR");
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_RT_DIR", (root_ / "abs").string().c_str()));

    kvx::ConfigStore plain("", ("jvmdll " + absolute).c_str());
    EXPECT_EQ(str(kvx::findJvmFromConfig(plain)), absolute);

    kvx::ConfigStore expanded("", ("jvmdll %kvxtest_rt_dir%/" + LIB).c_str());
    EXPECT_EQ(str(kvx::findJvmFromConfig(expanded)), (root_ / "abs").string() + "/" + LIB);

    // An unset reference stays as written and names nothing readable, even though a file
    // with the variable's expected value exists.
    touch("app/" + LIB);
    kvx::ConfigStore unresolved("", ("jvmdll %KVXTEST_UNSET_RT%" + LIB).c_str());
    EXPECT_EQ(str(kvx::findJvmFromConfig(unresolved)), "");

    kvx::ConfigStore empty("", "jvmdll\n");
    EXPECT_EQ(str(kvx::findJvmFromConfig(empty)), "");
    kvx::ConfigStore absent("", "mainclass a.B\n");
    EXPECT_EQ(str(kvx::findJvmFromConfig(absent)), "");
}

TEST_F(JvmDiscoveryTest, BundledRuntimeHighestVersionThatMeetsTheMinimumWins) {
    // runtime\ (11), jre\ (17) and jdk\ (no release file) beside the executable.
    std::string folder[3];
    for (int i = 0; i < kvx::platform::bundledRuntimeFolderCount(); ++i) {
        folder[i] = kvx::platform::bundledRuntimeFolder(i);
    }
    ASSERT_EQ(folder[0].substr(0, 7), "runtime");
    touch("app/" + folder[0] + suffix(1) + "server/" + LIB);
    tree_.touch("app/" + folder[0] + "release", "JAVA_VERSION=\"11.0.2\"\n");
    touch("app/" + folder[1] + suffix(1) + "server/" + LIB);
    tree_.touch("app/" + folder[1] + "release", "JAVA_VERSION=\"17.0.9\"\n");
    touch("app/" + folder[2] + suffix(1) + "server/" + LIB);
    const std::string jre = appDir_ + folder[1] + suffix(1) + "server" + sep_ + LIB;
    const std::string runtime = appDir_ + folder[0] + suffix(1) + "server" + sep_ + LIB;
    const std::string unknown = appDir_ + folder[2] + suffix(1) + "server" + sep_ + LIB;

    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), jre);
    EXPECT_EQ(str(kvx::findBundledJvm(true, {1, 8})), jre);
    // Too old for 21: the one without a version is tried last (its version is checked
    // once it runs).
    EXPECT_EQ(str(kvx::findBundledJvm(true, {21, 0})), unknown);
    fs::remove_all(root_ / "app" / folder[2]);
    EXPECT_EQ(str(kvx::findBundledJvm(true, {21, 0})), "");
    fs::remove(jre);
    EXPECT_EQ(str(kvx::findBundledJvm(true, {11, 0})), runtime);

    // No configuration at all: the bundled runtime is not part of the default order.
    kvx::ConfigStore none("", "");
    EXPECT_EQ(str(kvx::findJvmLibrary(none)).find(appDir_), std::string::npos);
    kvx::ConfigStore bundled("", "jre_order b\n");
    EXPECT_EQ(str(kvx::findJvmLibrary(bundled)), runtime);
}

TEST_F(JvmDiscoveryTest, WholeVersionRanksRuntimesAndEqualVersionsKeepTheOrderFound) {
    std::string folder[3];
    for (int i = 0; i < 3; ++i) folder[i] = kvx::platform::bundledRuntimeFolder(i);
    auto library = [&](int i) { return appDir_ + folder[i] + suffix(1) + "server" + sep_ + LIB; };
    auto release = [&](int i, const std::string& text) { tree_.touch("app/" + folder[i] + "release", text); };
    for (int i = 0; i < 3; ++i) touch("app/" + folder[i] + suffix(1) + "server/" + LIB);

    // An older security update found first must not win: 17.0.2 < 17.0.12 (and the search
    // order is runtime\, jre\, jdk\, so each pair is tried both ways round).
    release(0, "JAVA_VERSION=\"17.0.2\"\n");
    release(1, "JAVA_VERSION=\"17.0.12\"\n");
    release(2, "JAVA_VERSION=\"17.0.9\"\n");
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(1));
    release(0, "JAVA_VERSION=\"17.0.13\"\n");
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(0));
    // minjre keeps comparing the first two numbers: 17.0.12 meets a minimum of 17.0.
    EXPECT_EQ(str(kvx::findBundledJvm(true, {17, 0})), library(0));

    // The build from JAVA_RUNTIME_VERSION decides between equal numbers.
    release(0, "JAVA_VERSION=\"17.0.12\"\nJAVA_RUNTIME_VERSION=\"17.0.12+7\"\n");
    release(1, "JAVA_VERSION=\"17.0.12\"\nJAVA_RUNTIME_VERSION=\"17.0.12+9\"\n");
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(1));

    // Equal versions: the first one found wins (runtime\ before jre\ before jdk\).
    release(0, "JAVA_VERSION=\"17.0.12\"\n");
    release(1, "JAVA_VERSION=\"17.0.12\"\n");
    release(2, "JAVA_VERSION=\"17.0.12\"\n");
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(0));
    fs::remove(root_ / "app" / (folder[0] + "release"));  // unknown versions rank last
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(1));
    release(1, "JAVA_VERSION=\"17\"\n");  // 17 is 17.0.0
    EXPECT_EQ(str(kvx::findBundledJvm(false, {})), library(2));
}

TEST_F(JvmDiscoveryTest, RuntimeRootTakesHighestVersionFromReleaseFilesOrNames) {
    // A package manager's folder: 1.8 and 17 by release file, "21-tem" by its name only.
    touch("jvm/java-8/" + suffix(1) + "server/" + LIB);
    tree_.touch("jvm/java-8/release", "JAVA_VERSION=\"1.8.0_292\"\n");
    touch("jvm/java-17/" + suffix(1) + "server/" + LIB);
    tree_.touch("jvm/java-17/release", "JAVA_VERSION=\"17.0.9\"\n");
    touch("jvm/21-tem/" + suffix(1) + "server/" + LIB);
    touch("jvm/not-a-home/readme");
    AppString root((root_ / "jvm").string().c_str());
    const std::string base = (root_ / "jvm").string() + sep_;

    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(root, false, {})), base + "21-tem" + sep_ + suffix(1) + "server" + sep_ + LIB);
    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(root, true, {22, 0})), "");
    fs::remove_all(root_ / "jvm/21-tem");
    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(root, true, {1, 8})), base + "java-17" + sep_ + suffix(1) + "server" + sep_ + LIB);
    // A minimum of 8 is met by 1.8.0_292.
    fs::remove_all(root_ / "jvm/java-17");
    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(root, true, {8, 0})), base + "java-8" + sep_ + suffix(1) + "server" + sep_ + LIB);
    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(root, true, {11, 0})), "");
    EXPECT_EQ(str(kvx::findJvmInRuntimeRoot(AppString((root_ / "none").string().c_str()), false, {})), "");
}

TEST_F(JvmDiscoveryTest, WrongArchitectureIsSkippedAndReported) {
    // jvmdll names a library for the other word size; JRE_HOME holds one of this program's.
    std::string other = tree_.touch("app/other/" + LIB, kvx::test::otherArchitectureLibrary());
    std::string own = tree_.touch("env/" + LIB, kvx::test::ownArchitectureLibrary());
    std::string text = "jvmdll other/" + LIB + "\njre_order ce\n";
    kvx::ConfigStore store("", text.c_str());

    kvx::JvmSearchReport report;
    EXPECT_EQ(str(kvx::findJvmLibrary(store, &report)), "");
    EXPECT_EQ(str(report.wrongArchitecturePath), appDir_ + "other/" + LIB);
    EXPECT_EQ(report.wrongArchitectureBits, kvx::programBits() == 64 ? 32 : 64);

    ASSERT_TRUE(kvx::platform::setEnv("JRE_HOME", (root_ / "env").string().c_str()));
    kvx::JvmSearchReport found;
    EXPECT_EQ(str(kvx::findJvmLibrary(store, &found)), (root_ / "env").string() + sep_ + LIB);
    EXPECT_EQ(str(found.wrongArchitecturePath), appDir_ + "other/" + LIB);  // seen on the way

    // Within one home the search goes on past a library of the wrong kind.
    tree_.touch("home/" + suffix(1) + "client/" + LIB, kvx::test::otherArchitectureLibrary());
    tree_.touch("home/" + suffix(1) + "server/" + LIB, kvx::test::ownArchitectureLibrary());
    tree_.touch("home/" + suffix(1) + LIB, kvx::test::otherArchitectureLibrary());
    EXPECT_EQ(str(kvx::findJvmInHome(home("home"))), (root_ / "home").string() + sep_ + suffix(1) + "server" + sep_ + LIB);
    (void)own;
    (void)other;
}

TEST_F(JvmDiscoveryTest, DefaultOrderIsCsieWithRuntimesForSeveralMethodsAtOnce) {
    // A runtime for c, for b (bundled), for e, and on Linux the system's runtime for s: each
    // removal shows the next method of "csie", and b (not in the default order) never wins.
    std::string configured = touch("app/cfg/" + LIB);
    touch("app/" + std::string(kvx::platform::bundledRuntimeFolder(0)) + LIB);
    std::string environment = touch("env/" + LIB);
    ASSERT_TRUE(kvx::platform::setEnv("JAVA_HOME", (root_ / "env").string().c_str()));
    auto found = [&](const char* extra) {
        std::string text = std::string("jvmdll cfg/") + LIB + "\n" + extra;
        kvx::ConfigStore store("", text.c_str());
        return str(kvx::findJvmLibrary(store));
    };
    EXPECT_EQ(found(""), appDir_ + "cfg/" + LIB);
    EXPECT_EQ(found("jre_order xyz\n"), appDir_ + "cfg/" + LIB);  // no known letter: the default
    fs::remove(configured);
    AppString system = kvx::platform::systemJavaHome();
    std::string viaS = system.isEmpty() ? "" : str(kvx::findJvmInHome(system));
    // s before e: the system's runtime where there is one (Linux), else the environment.
    EXPECT_EQ(found(""), viaS.empty() ? (root_ / "env").string() + sep_ + LIB : viaS);
    EXPECT_EQ(found("jre_order e\n"), (root_ / "env").string() + sep_ + LIB);
    (void)environment;
}

TEST_F(JvmDiscoveryTest, MissingRegistryKeyYieldsNothing) {
    EXPECT_EQ(str(kvx::findJvmFromRegistry("SOFTWARE\\KvxTest\\No Such Runtime")), "");
    EXPECT_EQ(str(kvx::findJvmFromRegistry(nullptr)), "");
}

#ifdef _WIN32
namespace {

// A runtime key of our own under HKEY_LOCAL_MACHINE, removed when the test ends.
class RegistryRuntime {
public:
    static constexpr const char* KEY = "SOFTWARE\\KvxTest\\Java Runtime Environment";
    RegistryRuntime(const std::string& version, const std::string& runtimeLib, DWORD libraryType = REG_SZ) {
        setValue(KEY, "CurrentVersion", version, REG_SZ);
        setValue(std::string(KEY) + "\\" + version, "RuntimeLib", runtimeLib, libraryType);
    }
    ~RegistryRuntime() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KvxTest"); }
    bool ok() const { return ok_; }

private:
    void setValue(const std::string& key, const char* name, const std::string& value, DWORD type) {
        HKEY handle = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                            nullptr) != ERROR_SUCCESS) {
            ok_ = false;
            return;
        }
        if (RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
            ok_ = false;
        RegCloseKey(handle);
    }
    bool ok_ = true;
};

}  // namespace

TEST_F(JvmDiscoveryTest, RegistryRuntimeLibIsTakenWhenReadable) {
    std::string lib = touch("jre\\bin\\client\\jvm.dll");
    RegistryRuntime runtime("1.8", lib);
    ASSERT_TRUE(runtime.ok());
    EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), lib);
}

TEST_F(JvmDiscoveryTest, ExpandableRegistryStringsAreExpanded) {
    std::string lib = touch("jre\\bin\\client\\jvm.dll");
    SavedVariable saved("KVXTEST_RT_ROOT");
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_RT_ROOT", root_.string().c_str()));
    {
        RegistryRuntime runtime("1.8", "%KVXTEST_RT_ROOT%\\jre\\bin\\client\\jvm.dll", REG_EXPAND_SZ);
        ASSERT_TRUE(runtime.ok());
        EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), lib);
    }
    // Stored as plain text, the same value names no file.
    RegistryRuntime plain("1.8", "%KVXTEST_RT_ROOT%\\jre\\bin\\client\\jvm.dll", REG_SZ);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), "");
    // Expanded beyond the 260 bytes of the buffer: nothing, as for any value too long.
    ASSERT_TRUE(kvx::platform::setEnv("KVXTEST_RT_ROOT", (root_.string() + std::string(240, 'x')).c_str()));
    RegistryRuntime tooLong("1.8", "%KVXTEST_RT_ROOT%\\jvm.dll", REG_EXPAND_SZ);
    ASSERT_TRUE(tooLong.ok());
    EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), "");
}

TEST_F(JvmDiscoveryTest, StaleRegistryRuntimeLibFindsSiblingDirectory) {
    std::string stale = (root_ / "jre\\bin\\client\\jvm.dll").string();
    touch("jre\\bin\\server\\jvm.dll");
    RegistryRuntime runtime("1.8.0_45", stale);
    ASSERT_TRUE(runtime.ok());
    EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), (root_ / "jre\\bin").string() + "\\server\\jvm.dll");
}

TEST_F(JvmDiscoveryTest, RegistryValueLongerThanItsBufferYieldsNothing) {
    // 259 characters and the terminator fit; one more does not.
    std::string base = (root_ / "x").string();
    std::string fits = base + std::string(259 - base.size() - 8, 'a') + "\\jvm.dll";
    ASSERT_EQ(fits.size(), 259u);
    {
        RegistryRuntime runtime("1.8", fits);
        ASSERT_TRUE(runtime.ok());
        fs::create_directories(fs::path(fits).parent_path());
        std::ofstream(fits) << "runtime";
        EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), fits);
    }
    RegistryRuntime tooLong("1.8", fits + "x");
    ASSERT_TRUE(tooLong.ok());
    EXPECT_EQ(str(kvx::findJvmFromRegistry(RegistryRuntime::KEY)), "");
}
#else
TEST_F(JvmDiscoveryTest, JavaSoftLetterFallsBackToTheSystemJavaHome) {
    // No registry here: `s` takes the runtime that the system names, if any.
    AppString system = kvx::platform::systemJavaHome();
    kvx::ConfigStore store("", "jre_order s\n");
    if (system.isEmpty()) {
        EXPECT_EQ(str(kvx::findJvmLibrary(store)), "");
    } else {
        EXPECT_EQ(str(kvx::findJvmLibrary(store)), str(kvx::findJvmInHome(system)));
        EXPECT_NE(str(kvx::findJvmLibrary(store)), "");
    }
    kvx::ConfigStore ibm("", "jre_order i\n");
    EXPECT_EQ(str(kvx::findJvmLibrary(ibm)), "");
}

TEST_F(JvmDiscoveryTest, SystemJavaHomeFollowsJavaOnPathThroughLinks) {
    if (fs::exists("/usr/lib/jvm/default-java")) {
        EXPECT_EQ(str(kvx::platform::systemJavaHome()), "/usr/lib/jvm/default-java");
        return;
    }
    // <root>/jdk/bin/java reached through a link in <root>/links, as alternatives do.
    touch("jdk/bin/java");
    fs::permissions(root_ / "jdk/bin/java", fs::perms::owner_all);
    touch("jdk/lib/server/" + LIB);
    fs::create_directories(root_ / "links");
    fs::create_symlink(root_ / "jdk/bin/java", root_ / "links/java");
    SavedVariable path("PATH");
    std::string value = "::" + (root_ / "nothing").string() + ":" + (root_ / "links").string() + ":/usr/bin";
    ASSERT_TRUE(kvx::platform::setEnv("PATH", value.c_str()));
    std::string expectedHome = fs::canonical(root_ / "jdk").string() + "/";
    EXPECT_EQ(str(kvx::platform::systemJavaHome()), expectedHome);
    kvx::ConfigStore store("", "jre_order s\n");
    EXPECT_EQ(str(kvx::findJvmLibrary(store)), expectedHome + "lib/server/" + LIB);

    ASSERT_TRUE(kvx::platform::setEnv("PATH", (root_ / "nothing").string().c_str()));
    EXPECT_EQ(str(kvx::platform::systemJavaHome()), "");
}
#endif
