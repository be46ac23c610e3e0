#include "jre/JvmHost.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/JavaRuntime.h"

#include "TestSupport.h"

using kvx::AppString;
using kvx::test::unsetVariable;

namespace {

std::string str(const AppString& s) { return s.c_str(); }

// A library every process can load that is not a Java runtime.
#ifdef _WIN32
constexpr const char* NOT_A_RUNTIME = "kernel32.dll";
#else
constexpr const char* NOT_A_RUNTIME = "libc.so.6";
#endif

// PATH as it was before the test, put back afterwards (the retry changes it for good).
class JvmHostTest : public ::testing::Test {
protected:
    std::string path() {
        AppString value;
        kvx::platform::getEnv("PATH", value);
        return str(value);
    }

    kvx::test::SavedVariable savedPath_{"PATH"};
    const char listSep_ = kvx::platform::pathListSeparator();
};

}  // namespace

TEST_F(JvmHostTest, FailedLoadPutsTheLibraryParentOnPathAndReportsNotFound) {
    const char sep = kvx::platform::nativeSeparator();
    std::string directory = std::string("kvx-no-such-jre") + sep + "bin" + sep + "client" + sep;
    std::string library = directory + kvx::platform::jvmLibraryName();
    ASSERT_TRUE(kvx::platform::setEnv("PATH", "old"));
    kvx::JvmHost host;
    EXPECT_EQ(host.create(library.c_str()), kvx::LAUNCH_JRE_NOT_FOUND);
    EXPECT_EQ(path(), "old" + std::string(1, listSep_) + directory + "..");
    EXPECT_EQ(host.vm(), nullptr);
}

TEST_F(JvmHostTest, UnsetPathBecomesSeparatorAndDirectory) {
    unsetVariable("PATH");
    kvx::JvmHost host;
    EXPECT_EQ(host.create("\\jre\\bin\\client\\jvm.dll"), kvx::LAUNCH_JRE_NOT_FOUND);
    EXPECT_EQ(path(), std::string(1, listSep_) + "\\jre\\bin\\client\\..");
}

TEST_F(JvmHostTest, EmptyPathIsNotFoundWithoutALoad) {
    ASSERT_TRUE(kvx::platform::setEnv("PATH", "p"));
    kvx::JvmHost host;
    EXPECT_EQ(host.create(""), kvx::LAUNCH_JRE_NOT_FOUND);
    EXPECT_EQ(path(), "p") << "no runtime was found: no folder of one goes on PATH";
    kvx::JvmHost nullHost;
    EXPECT_EQ(nullHost.create(nullptr), kvx::LAUNCH_JRE_NOT_FOUND);
}

TEST_F(JvmHostTest, RetryCutsTheDirectoryAtTheLastSeparatorOfEitherKind) {
    // Discovery joins with "/" after a home, so runtime paths mix separators: the folder on
    // PATH must still be the library's own parent, whichever separator comes last.
    ASSERT_TRUE(kvx::platform::setEnv("PATH", ""));
    kvx::JvmHost mixed;
    EXPECT_EQ(mixed.create("kvx-none\\jdk/jre\\bin\\client/jvm.dll"), kvx::LAUNCH_JRE_NOT_FOUND);
    EXPECT_EQ(path(), std::string(1, listSep_) + "kvx-none\\jdk/jre\\bin\\client/..");

    ASSERT_TRUE(kvx::platform::setEnv("PATH", ""));
    kvx::JvmHost slashed;
    EXPECT_EQ(slashed.create("kvx-none/jre/bin/client/jvm.dll"), kvx::LAUNCH_JRE_NOT_FOUND);
    EXPECT_EQ(path(), std::string(1, listSep_) + "kvx-none/jre/bin/client/..");
}

TEST_F(JvmHostTest, LibraryWithoutEntryPointIsNotValidAndKeepsItsOptions) {
    kvx::JvmHost host;
    host.addOption("-Xmx64m");
    host.addOption("-Da=b");
    std::string before = path();
    EXPECT_EQ(host.create(NOT_A_RUNTIME), kvx::LAUNCH_JRE_NOT_VALID);
    EXPECT_EQ(path(), before);  // the first load succeeded: no retry
    EXPECT_EQ(host.vm(), nullptr);
    // The runtime never saw the options, so they are still there until destruction.
    ASSERT_EQ(host.options().count(), 2);
    EXPECT_STREQ(host.options().entry(0), "-Xmx64m");
    EXPECT_STREQ(host.options().entry(1), "-Da=b");
    host.unload();
    host.unload();  // repeated: nothing happens
}

TEST_F(JvmHostTest, NothingCanBeAskedWithoutAVirtualMachine) {
    kvx::JvmHost host;
    AppString version("unchanged");
    EXPECT_FALSE(host.queryVmVersion(version));
    EXPECT_EQ(str(version), "unchanged");
    EXPECT_EQ(host.runMain("a.B", kvx::WideStringList()), kvx::LAUNCH_MAIN_CLASS_NOT_FOUND);
}
