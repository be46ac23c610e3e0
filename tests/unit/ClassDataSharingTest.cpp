#include "jre/ClassDataSharing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/Trace.h"
#include "config/ConfigStore.h"
#include "jre/JvmHost.h"
#include "platform/CacheFiles.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace kvx;
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* CACHE_VARIABLE = "LOCALAPPDATA";
constexpr const char* LIBRARY = "bin\\server\\jvm.dll";
#else
constexpr const char* CACHE_VARIABLE = "XDG_CACHE_HOME";
constexpr const char* LIBRARY = "lib/server/libjvm.so";
#endif

std::vector<std::string> optionsOf(const JvmHost& host) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < host.options().count(); ++i) out.emplace_back(host.options().entry(i));
    return out;
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) names.push_back(entry.path().filename().string());
    return names;
}

// The value of the one option that starts with `prefix`, or "" when none does.
std::string valueOf(const std::vector<std::string>& options, const std::string& prefix) {
    for (const std::string& o : options) {
        if (o.rfind(prefix, 0) == 0) return o.substr(prefix.size());
    }
    return "";
}

// An application tree with an executable, a Java home whose release file says `version`,
// and the per-user cache folder pointed into the tree.
class CdsTest : public ::testing::Test {
protected:
    CdsTest() : tree_("kvx-cds-", "app.exe", "start"), cacheVariable_(CACHE_VARIABLE) {
        exe_ = tree_.touch("app/app.exe", "launcher and archive");
        cacheRoot_ = tree_.root() / "cache";
        platform::setEnv(CACHE_VARIABLE, cacheRoot_.string().c_str());
        setRelease("17.0.9");
        library_ = tree_.touch(std::string("jdk") + platform::nativeSeparator() + LIBRARY, "runtime");
        baseArchive_ = (fs::path(library_).parent_path() / "classes.jsa").string();
        tree_.touch(fs::path(baseArchive_).lexically_relative(tree_.root()).string(), "base");
    }
    void setRelease(const std::string& version) {
        tree_.touch("jdk/release", "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
    }
    fs::path cacheDir() const { return cacheRoot_ / "kvx" / "cds"; }

    // One start: the options added for `config` (after `configured` options).
    std::vector<std::string> start(const char* config = "cds auto\r\n", std::vector<std::string> configured = {}) {
        ConfigStore store(AppString(""), AppString(config));
        host_ = std::make_unique<JvmHost>();
        for (const std::string& o : configured) host_->addOption(o.c_str());
        addClassDataSharingOptions(store, AppString(exe_.c_str()), AppString(library_.c_str()), *host_);
        std::vector<std::string> all = optionsOf(*host_);
        return std::vector<std::string>(all.begin() + static_cast<long>(configured.size()), all.end());
    }
    // What the runtime does at its end: writes `bytes` bytes to the file it was told to.
    static void runtimeWrites(const std::string& path, size_t bytes) {
        ASSERT_FALSE(path.empty());
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'a');
    }

    test::AppTree tree_;
    test::SavedVariable cacheVariable_;
    std::string exe_;
    std::string library_;
    std::string baseArchive_;
    fs::path cacheRoot_;
    std::unique_ptr<JvmHost> host_;
};

}  // namespace

TEST(CdsVersionTest, FeatureReleaseAndMechanism) {
    EXPECT_EQ(javaFeatureRelease("1.8.0_292"), 8);
    EXPECT_EQ(javaFeatureRelease("11.0.2"), 11);
    EXPECT_EQ(javaFeatureRelease("25"), 25);
    EXPECT_EQ(javaFeatureRelease(""), 0);
    EXPECT_EQ(javaFeatureRelease("-3"), 0);
    EXPECT_EQ(cdsMechanismFor(12), CdsMechanism::NONE);
    EXPECT_EQ(cdsMechanismFor(13), CdsMechanism::DYNAMIC_ARCHIVE);
    EXPECT_EQ(cdsMechanismFor(18), CdsMechanism::DYNAMIC_ARCHIVE);
    EXPECT_EQ(cdsMechanismFor(19), CdsMechanism::AUTO_ARCHIVE);
    EXPECT_EQ(cdsMechanismFor(24), CdsMechanism::AUTO_ARCHIVE);
    EXPECT_EQ(cdsMechanismFor(25), CdsMechanism::AUTO_ARCHIVE);
    EXPECT_EQ(cdsMechanismFor(2147483647), CdsMechanism::AUTO_ARCHIVE);
}

TEST(CdsVersionTest, MechanismFollowsWhatTheRuntimesHomeHolds) {
    struct Case {
        int32_t release;
        bool base;
        bool launcher;
        CdsMechanism expected;
    };
    const Case cases[] = {
        {11, false, true, CdsMechanism::NONE},
        {12, true, true, CdsMechanism::NONE},
        {13, true, false, CdsMechanism::DYNAMIC_ARCHIVE},
        {17, true, true, CdsMechanism::DYNAMIC_ARCHIVE},
        {21, true, false, CdsMechanism::AUTO_ARCHIVE},
        // Made with jlink: the runtime's own archive is missing, its java dumps a static one.
        {13, false, true, CdsMechanism::STATIC_ARCHIVE},
        {17, false, true, CdsMechanism::STATIC_ARCHIVE},
        {24, false, true, CdsMechanism::STATIC_ARCHIVE},
        {17, false, false, CdsMechanism::NONE},
        {21, false, false, CdsMechanism::NONE},
        {25, false, true, CdsMechanism::STATIC_ARCHIVE},
        {25, true, true, CdsMechanism::STATIC_ARCHIVE},
        {25, true, false, CdsMechanism::AUTO_ARCHIVE},
        {25, false, false, CdsMechanism::NONE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cdsMechanismFor(c.release, c.base, c.launcher), c.expected)
            << c.release << (c.base ? " with" : " without") << " base archive," << (c.launcher ? " with" : " without")
            << " launcher";
    }
}

TEST(CdsVersionTest, SharingOptionsOfTheConfigurationAreRecognised) {
    for (const char* o : {"-Xshare:off", "-XX:SharedArchiveFile=a.jsa", "-XX:ArchiveClassesAtExit=a", "-XX:AOTCache=x",
                          "-XX:AOTMode=off", "-XX:+AutoCreateSharedArchive", "-Xlog:cds", "-Xlog:aot+map=info", "-Xlog", "-Xlog:all=warning:stderr",
                          "-XX:DumpLoadedClassList=l"}) {
        EXPECT_TRUE(isSharingOption(o)) << o;
    }
    for (const char* o : {"-Xmx64m", "-Xlog:gc", "-Xlog:class+load=info:file=/tmp/cds/aot.log", "-Xlog:disable", "-XX:+UseG1GC", "-Dshare=cds", "-verbose:class"}) {
        EXPECT_FALSE(isSharingOption(o)) << o;
    }
}

TEST_F(CdsTest, JavaHomeIsTheNearestParentWithAReleaseFile) {
    EXPECT_EQ(std::string(javaHomeOfLibrary(AppString(library_.c_str())).c_str()),
              (tree_.root() / "jdk").string() + platform::nativeSeparator());
    // Four levels at most, and none at all without a release file.
    std::string deep = tree_.touch("jdk/a/b/c/d/jvm", "x");
    EXPECT_TRUE(javaHomeOfLibrary(AppString(deep.c_str())).isEmpty());
    std::string bare = tree_.touch("bare/lib/server/jvm", "x");
    EXPECT_TRUE(javaHomeOfLibrary(AppString(bare.c_str())).isEmpty());
    EXPECT_TRUE(javaHomeOfLibrary(AppString("jvm")).isEmpty());
}

TEST_F(CdsTest, DynamicArchiveIsWrittenOnceThenUsedAndReplacedWhenTheExecutableChanges) {
    std::vector<std::string> first = start();
    std::string writing = valueOf(first, "-XX:ArchiveClassesAtExit=");
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0], "-Xshare:auto");
    EXPECT_EQ(first[1], "-Xlog:cds*=off");
    EXPECT_EQ(fs::path(writing).parent_path(), cacheDir());
    EXPECT_FALSE(fs::exists(writing)) << "the writability probe is gone: the runtime makes the file";
    runtimeWrites(writing, 4096);
    finishClassDataSharing();
    std::vector<std::string> files = filesIn(cacheDir());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(files[0].size() - 9), "-4096.jsa");

    std::vector<std::string> second = start();
    EXPECT_EQ(fs::path(valueOf(second, "-XX:SharedArchiveFile=")).filename(), files[0]);
    EXPECT_EQ(second.back(), "-XX:+VerifySharedSpaces");
    EXPECT_EQ(valueOf(second, "-XX:ArchiveClassesAtExit="), "");
    finishClassDataSharing();  // nothing was armed: nothing changes
    EXPECT_EQ(filesIn(cacheDir()), files);

    // A changed executable: the same executable part of the name, a new identity; the old
    // archive goes once the new one is in place.
    tree_.touch("app/app.exe", "launcher and a longer archive");
    std::string rewriting = valueOf(start(), "-XX:ArchiveClassesAtExit=");
    ASSERT_FALSE(rewriting.empty());
    EXPECT_EQ(fs::path(rewriting).filename().string().substr(0, 17), files[0].substr(0, 17));
    runtimeWrites(rewriting, 5000);
    finishClassDataSharing();
    std::vector<std::string> after = filesIn(cacheDir());
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0], files[0]);
    EXPECT_EQ(after[0].substr(after[0].size() - 9), "-5000.jsa");
}

TEST_F(CdsTest, TruncatedOrUnwrittenArchivesAreNeverHandedToTheRuntime) {
    std::string writing = valueOf(start(), "-XX:ArchiveClassesAtExit=");
    runtimeWrites(writing, 4096);
    finishClassDataSharing();
    std::string archive = (cacheDir() / filesIn(cacheDir())[0]).string();
    fs::resize_file(archive, 100);
    std::vector<std::string> again = start();
    EXPECT_EQ(valueOf(again, "-XX:SharedArchiveFile="), "");
    std::string rewriting = valueOf(again, "-XX:ArchiveClassesAtExit=");
    ASSERT_FALSE(rewriting.empty());
    // The runtime wrote nothing (it failed or was killed): no archive, no leftovers but
    // the damaged one, which the next finished archive replaces.
    finishClassDataSharing();
    EXPECT_FALSE(fs::exists(rewriting));
    EXPECT_EQ(filesIn(cacheDir()).size(), 1u);
}

TEST_F(CdsTest, TwoFirstStartsWriteApartAndOneArchiveRemains) {
    std::string a = valueOf(start(), "-XX:ArchiveClassesAtExit=");
    // A second start of the same executable by another process (same identity, other name).
    fs::path other = fs::path(a).parent_path() / (fs::path(a).filename().string() + "x");
    std::string b = other.string();
    EXPECT_NE(a, b);
    runtimeWrites(a, 4096);
    runtimeWrites(b, 4000);
    finishClassDataSharing();
    std::vector<std::string> files = filesIn(cacheDir());
    ASSERT_EQ(files.size(), 1u) << "the other start's unfinished file is an older file of this executable";
    EXPECT_EQ(files[0].substr(files[0].size() - 9), "-4096.jsa");
}

TEST_F(CdsTest, EachRuntimeVersionGetsItsMechanism) {
    setRelease("11.0.2");
    EXPECT_TRUE(start().empty());
    setRelease("1.8.0_292");
    EXPECT_TRUE(start().empty());

    setRelease("21.0.1");
    std::vector<std::string> auto21 = start();
    ASSERT_EQ(auto21.size(), 4u);
    EXPECT_EQ(auto21[2], "-XX:+AutoCreateSharedArchive");
    std::string writing = valueOf(auto21, "-XX:SharedArchiveFile=");
    EXPECT_FALSE(fs::exists(writing)) << "an empty file there makes this runtime warn";
    runtimeWrites(writing, 2048);
    finishClassDataSharing();
    std::vector<std::string> use21 = start();
    EXPECT_EQ(fs::path(valueOf(use21, "-XX:SharedArchiveFile=")).filename(), filesIn(cacheDir())[0]);
    EXPECT_EQ(use21.back(), "-XX:+VerifySharedSpaces");

    // 25 as 19 to 24, with the "aot" reports silenced too (which older runtimes refuse).
    setRelease("25.0.1");
    std::vector<std::string> auto25 = start();
    ASSERT_EQ(auto25.size(), 5u);
    EXPECT_EQ(auto25[1], "-Xlog:aot*=off");
    EXPECT_EQ(auto25[2], "-Xlog:cds*=off");
    EXPECT_EQ(auto25[3], "-XX:+AutoCreateSharedArchive");
    EXPECT_EQ(valueOf(auto25, "-XX:AOTMode="), "") << "recording costs the first start before main";
    finishClassDataSharing();
}

TEST_F(CdsTest, ArchivesLayeredOnTheRuntimesOwnNeedItBesideTheLibrary) {
    fs::remove(baseArchive_);
    EXPECT_TRUE(start().empty());
    setRelease("21.0.1");
    EXPECT_TRUE(start().empty());
    setRelease("25.0.1");
    EXPECT_TRUE(start().empty());
}

TEST_F(CdsTest, AJlinkedRuntimeListsItsClassesAndNothingRemainsWhenTheDumpFails) {
    fs::remove(baseArchive_);
    // The home's launcher is no program here: the dump fails.
    tree_.touch(std::string("jdk") + platform::nativeSeparator() + "bin" + platform::nativeSeparator() +
                platform::javaLauncherName(), "");
    for (const char* release : {"17.0.9", "21.0.1", "25.0.2"}) {
        setRelease(release);
        std::vector<std::string> first = start();
        const bool aotTag = std::string(release) == "25.0.2";
        ASSERT_EQ(first.size(), aotTag ? 4u : 3u) << release;
        EXPECT_EQ(first[0], "-Xshare:auto");
        if (aotTag) {
            EXPECT_EQ(first[1], "-Xlog:aot*=off");
        }
        EXPECT_EQ(first[aotTag ? 2 : 1], "-Xlog:cds*=off");
        const std::string list = valueOf(first, "-XX:DumpLoadedClassList=");
        EXPECT_EQ(fs::path(list).parent_path(), cacheDir());
        EXPECT_FALSE(fs::exists(list));
        runtimeWrites(list, 300);
        finishClassDataSharing();
        EXPECT_TRUE(filesIn(cacheDir()).empty()) << "neither the list nor a partial archive stays";
    }
}

#ifndef _WIN32
TEST_F(CdsTest, AJlinkedRuntimesJavaDumpsAStaticArchiveAfterTheStartAndLaterStartsMapIt) {
    fs::remove(baseArchive_);
    // The runtime's java as a script: it records its arguments and writes the archive it is
    // told to, as `java -Xshare:dump` does.
    const std::string seen = (tree_.root() / "dump-arguments").string();
    const std::string java = tree_.touch("jdk/bin/java",
                                         "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + seen + "'\n"
                                         "for a; do case \"$a\" in -XX:SharedArchiveFile=*) "
                                         "printf 'archive' > \"${a#*=}\";; esac; done\n");
    fs::permissions(java, fs::perms::owner_all);
    const std::vector<std::string> configured = {"-Xmx32m", "-Xlog:gc:file=app-gc.log",
                                                 "-Djava.class.path=" + exe_};
    std::vector<std::string> first = start("cds auto\r\n", configured);
    const std::string list = valueOf(first, "-XX:DumpLoadedClassList=");
    ASSERT_FALSE(list.empty());

    // A start that listed nothing (killed early) dumps nothing.
    finishClassDataSharing();
    EXPECT_FALSE(fs::exists(seen));
    EXPECT_TRUE(filesIn(cacheDir()).empty());

    first = start("cds auto\r\n", configured);
    const std::string list2 = valueOf(first, "-XX:DumpLoadedClassList=");
    runtimeWrites(list2, 300);
    finishClassDataSharing();
    std::ifstream in(seen);
    std::vector<std::string> dumpArgs;
    for (std::string line; std::getline(in, line);) dumpArgs.push_back(line);
    EXPECT_EQ(valueOf(dumpArgs, "-Xshare:"), "dump");
    EXPECT_EQ(valueOf(dumpArgs, "-XX:SharedClassListFile="), list2);
    EXPECT_EQ(valueOf(dumpArgs, "-Xmx"), "32m");
    EXPECT_EQ(valueOf(dumpArgs, "-Djava.class.path="), exe_) << "the archive holds the application's classes";
    EXPECT_EQ(valueOf(dumpArgs, "-Xlog:gc"), "") << "the application's log stays its own";
    const std::vector<std::string> files = filesIn(cacheDir());
    ASSERT_EQ(files.size(), 1u) << "the class list is gone, the archive has its final name";
    EXPECT_EQ(files[0].substr(files[0].size() - 13), "-7.static.jsa");

    std::vector<std::string> later = start("cds auto\r\n", configured);
    EXPECT_EQ(later, (std::vector<std::string>{"-Xshare:auto", "-Xlog:cds*=off",
                                                "-XX:SharedArchiveFile=" + (cacheDir() / files[0]).string(),
                                                "-XX:+VerifySharedSpaces"}));

    // Should the runtime's own archive appear, its dynamic archive is written afresh: the
    // static one is never handed to it as a dynamic archive.
    tree_.touch(fs::path(baseArchive_).lexically_relative(tree_.root()).string(), "base");
    EXPECT_FALSE(valueOf(start("cds auto\r\n", configured), "-XX:ArchiveClassesAtExit=").empty());
    finishClassDataSharing();
}
#endif

TEST_F(CdsTest, NothingIsAddedWhenOffOrTheConfigurationTookChargeOrNoFolderCanBeHad) {
    EXPECT_TRUE(start("").empty());
    EXPECT_TRUE(start("cds off\r\n").empty());
    EXPECT_TRUE(start("cds auto\r\n", {"-Xshare:off"}).empty());
    EXPECT_TRUE(start("cds auto\r\n", {"-Xlog:cds=info"}).empty());
    EXPECT_FALSE(start("cds auto\r\n", {"-Xmx32m"}).empty());
    finishClassDataSharing();
    // A folder on the class path: the runtimes end with an error when archiving beside it.
    const std::string sep(1, platform::classPathSeparator());
    const std::string folder = (tree_.root() / "classes").string();
    fs::create_directories(folder);
    EXPECT_TRUE(start("cds auto\r\n", {"-Djava.class.path=" + exe_ + sep + folder}).empty());
    EXPECT_FALSE(start("cds auto\r\n", {"-Djava.class.path=" + folder, "-Djava.class.path=" + exe_ + sep +
                                           (tree_.root() / "missing.jar").string() + sep}).empty())
        << "the last class path counts; missing entries are harmless";
    finishClassDataSharing();

    // The cache folder's place is taken by a file: the launch goes on without sharing.
    fs::remove_all(cacheRoot_);
    tree_.touch("cache", "not a folder");
    EXPECT_TRUE(start().empty());
    // No cache variable at all (and, on Linux, no HOME).
    platform::unsetEnv(CACHE_VARIABLE);
    test::SavedVariable home("HOME");
    platform::unsetEnv("HOME");
    EXPECT_TRUE(start().empty());
}

TEST_F(CdsTest, ARebuildOfEqualLengthGetsANewArchive) {
    std::string writing = valueOf(start(), "-XX:ArchiveClassesAtExit=");
    runtimeWrites(writing, 4096);
    finishClassDataSharing();
    std::vector<std::string> files = filesIn(cacheDir());
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(valueOf(start(), "-XX:SharedArchiveFile="), (cacheDir() / files[0]).string());
    // The same length, other bytes, a later time: only the time tells the rebuild apart.
    tree_.touch("app/app.exe", "launcher and ARCHIVE");
    fs::last_write_time(exe_, fs::last_write_time(exe_) + std::chrono::seconds(5));
    ASSERT_EQ(fs::file_size(exe_), std::string("launcher and archive").size());
    std::vector<std::string> rebuilt = start();
    EXPECT_EQ(valueOf(rebuilt, "-XX:SharedArchiveFile="), "") << "the old archive was handed to a rebuilt executable";
    EXPECT_NE(valueOf(rebuilt, "-XX:ArchiveClassesAtExit="), "");
    finishClassDataSharing();
}

#ifndef _WIN32
TEST_F(CdsTest, ACacheFolderOthersCanChangeIsNotUsed) {
    ASSERT_FALSE(start().empty());
    finishClassDataSharing();
    test::SavedVariable trace("KVX_TRACE");
    const fs::path traceFile = tree_.root() / "trace.txt";
    platform::setEnv("KVX_TRACE", traceFile.string().c_str());
    traceRestart();
    auto refused = [&](const fs::path& folder) {
        std::ifstream in(traceFile);
        std::string line, wanted = "kvx: cds: cache folder " + folder.string() + " is not this user's alone";
        while (std::getline(in, line)) {
            if (line.rfind(wanted, 0) == 0) return true;
        }
        return false;
    };
    // Writable by the group, or by everyone: no sharing, and the trace says why.
    fs::permissions(cacheDir(), fs::perms::group_write, fs::perm_options::add);
    EXPECT_TRUE(start().empty());
    EXPECT_TRUE(refused(cacheDir()));
    fs::permissions(cacheDir(), fs::perms::group_write, fs::perm_options::remove);
    fs::permissions(cacheDir().parent_path(), fs::perms::others_write, fs::perm_options::add);
    EXPECT_TRUE(start().empty());
    EXPECT_TRUE(refused(cacheDir().parent_path()));
    fs::permissions(cacheDir().parent_path(), fs::perms::others_write, fs::perm_options::remove);
    EXPECT_FALSE(start().empty());
    finishClassDataSharing();
    // Another user's folder, or a link to one, is not ours either.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(cacheDir().c_str(), 65534, 65534), 0);
        EXPECT_TRUE(start().empty());
        ASSERT_EQ(::chown(cacheDir().c_str(), 0, 0), 0);
    }
    fs::rename(cacheDir(), tree_.root() / "elsewhere");
    fs::create_directory_symlink(tree_.root() / "elsewhere", cacheDir());
    EXPECT_TRUE(start().empty());
    platform::unsetEnv("KVX_TRACE");
    traceRestart();
}
#endif

TEST(CacheFilesTest, DirectoriesFilesAndRenames) {
    test::TempDir dir("kvx-cachefiles-");
    const std::string nested = dir / "a" + platform::nativeSeparator() + "b" + platform::nativeSeparator() + "c";
    EXPECT_TRUE(platform::createDirectories(nested.c_str()));
    EXPECT_TRUE(platform::createDirectories(nested.c_str())) << "existing folders are fine";
    const std::string file = dir / "f";
    EXPECT_TRUE(platform::createNewFile(file.c_str()));
    EXPECT_FALSE(platform::createNewFile(file.c_str())) << "never opens an existing file";
    EXPECT_FALSE(platform::createDirectories((file + platform::nativeSeparator() + "x").c_str()));
    dir.write("g", "12345");
    EXPECT_TRUE(platform::renameReplacing((dir / "g").c_str(), file.c_str()));
    platform::FileStamp stamp;
    ASSERT_TRUE(platform::fileStamp(file.c_str(), stamp));
    EXPECT_EQ(stamp.size, 5u);
    EXPECT_FALSE(platform::fileStamp(nested.c_str(), stamp)) << "folders have no stamp";
    EXPECT_FALSE(platform::fileStamp((dir / "g").c_str(), stamp));
    EXPECT_GT(platform::freeDiskBytes(dir.path().string().c_str()), 0u);
    // Archives come read-only from the runtimes: they are still replaced and removed.
    dir.write("h", "abc");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(platform::renameReplacing((dir / "h").c_str(), file.c_str()));
    ASSERT_TRUE(platform::fileStamp(file.c_str(), stamp));
    EXPECT_EQ(stamp.size, 3u);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(platform::removeFile(file.c_str()));
    EXPECT_FALSE(platform::removeFile(file.c_str()));
}

#ifndef _WIN32
TEST(CacheFilesTest, QuietProcessesReportTheirEndAndAreStoppedAtTheLimit) {
    auto run = [](std::vector<const char*> args, uint32_t timeoutMs) {
        StringPool pool;
        for (const char* a : args) pool.add(a);
        return platform::runQuietly(pool, timeoutMs);
    };
    EXPECT_TRUE(run({"/bin/sh", "-c", "echo out; echo err >&2; exit 0"}, 10000));
    EXPECT_FALSE(run({"/bin/sh", "-c", "exit 3"}, 10000));
    EXPECT_FALSE(run({"/nonexistent/program"}, 10000));
    EXPECT_FALSE(run({"/bin/sleep", "30"}, 200));
}

TEST(CacheFilesTest, QuietProcessesGetNoDescriptorOfOurs) {
    test::TempDir dir("kvx-inherit-");
    dir.write("held", "held open by the application");
    int held = ::open((dir / "held").c_str(), O_RDONLY);  // inheritable, as many applications' files are
    ASSERT_GE(held, 0);
    ASSERT_EQ(::dup2(held, 47), 47);
    ::close(held);
    // The probe can tell: a child that inherits everything sees descriptor 47.
    EXPECT_EQ(std::system("test -e /proc/$$/fd/47"), 0);
    StringPool args;
    for (const char* a : {"/bin/sh", "-c", "test ! -e /proc/$$/fd/47"}) args.add(a);
    EXPECT_TRUE(platform::runQuietly(args, 10000)) << "descriptor 47 reached the quiet process";
    ::close(47);
}

TEST(CacheFilesTest, CacheFolderFollowsXdgThenHome) {
    test::SavedVariable xdg("XDG_CACHE_HOME");
    test::SavedVariable home("HOME");
    platform::setEnv("HOME", "/home/u");
    platform::setEnv("XDG_CACHE_HOME", "/x/cache");
    EXPECT_STREQ(platform::userCacheDirectory().c_str(), "/x/cache");
    platform::setEnv("XDG_CACHE_HOME", "relative");  // not absolute: ignored
    EXPECT_STREQ(platform::userCacheDirectory().c_str(), "/home/u/.cache");
    platform::unsetEnv("XDG_CACHE_HOME");
    EXPECT_STREQ(platform::userCacheDirectory().c_str(), "/home/u/.cache");
}
#endif

TEST_F(CdsTest, AChangedClassPathJarGetsANewArchive) {
    const std::string jar = tree_.touch("app/lib/extra.jar", "first");
    std::string classPath = "-Djava.class.path=" + exe_;
    classPath += platform::classPathSeparator();
    classPath += jar;
    const std::vector<std::string> configured = {classPath};
    runtimeWrites(valueOf(start("cds auto\r\n", configured), "-XX:ArchiveClassesAtExit="), 4096);
    finishClassDataSharing();
    const std::vector<std::string> files = filesIn(cacheDir());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(valueOf(start("cds auto\r\n", configured), "-XX:SharedArchiveFile=")).filename(), files[0]);

    // The runtime would refuse the archive once the jar changed: a new one is written.
    tree_.touch("app/lib/extra.jar", "second, longer");
    std::string rewriting = valueOf(start("cds auto\r\n", configured), "-XX:ArchiveClassesAtExit=");
    ASSERT_FALSE(rewriting.empty());
    EXPECT_EQ(fs::path(rewriting).filename().string().substr(0, 17), files[0].substr(0, 17));
    // So does a class path that names another file, or one that is gone.
    fs::remove(jar);
    EXPECT_FALSE(valueOf(start("cds auto\r\n", configured), "-XX:ArchiveClassesAtExit=").empty());
    EXPECT_FALSE(valueOf(start("cds auto\r\n", {"-Djava.class.path=" + exe_}), "-XX:ArchiveClassesAtExit=").empty());
}

#ifdef _WIN32
namespace {
constexpr const char* PROBE_VARIABLE = "KVXTEST_PROBE_HANDLE";
constexpr const char* PROBE_TEXT = "held open by the application";
}  // namespace

// Started as a child by the next test: fails when the handle it is told of reads as the file
// the parent holds, that is, when the handle was inherited.
TEST(CacheFilesTest, DISABLED_InheritedHandleProbe) {
    const char* value = std::getenv(PROBE_VARIABLE);
    ASSERT_NE(value, nullptr);
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(value, nullptr, 10)));
    char buffer[64] = {};
    DWORD got = 0;
    const bool inherited = SetFilePointer(handle, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                           ReadFile(handle, buffer, sizeof buffer - 1, &got, nullptr) &&
                           std::string(buffer, got) == PROBE_TEXT;
    EXPECT_FALSE(inherited);
}

TEST(CacheFilesTest, QuietProcessesInheritNoHandleOfOurs) {
    test::TempDir dir("kvx-inherit-");
    dir.write("held", PROBE_TEXT);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE held = CreateFileA((dir / "held").c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    test::SavedVariable saved(PROBE_VARIABLE);
    ASSERT_TRUE(platform::setEnv(PROBE_VARIABLE, std::to_string(reinterpret_cast<uintptr_t>(held)).c_str()));
    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const char* filter = "--gtest_filter=CacheFilesTest.DISABLED_InheritedHandleProbe";

    // The probe can tell: a child that inherits every inheritable handle sees the file.
    std::string line = std::string("\"") + self + "\" --gtest_also_run_disabled_tests " + filter;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &info));
    WaitForSingleObject(info.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    EXPECT_EQ(code, 1u) << "the probe did not see a handle it inherited";

    StringPool args;
    for (const char* a : {static_cast<const char*>(self), "--gtest_also_run_disabled_tests", filter}) args.add(a);
    EXPECT_TRUE(platform::runQuietly(args, 60000)) << "the file's handle reached the quiet process";
    CloseHandle(held);
}
#endif
