#include "base/Trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/Environment.h"

#include "TestSupport.h"

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// KVX_TRACE as the test sets it, read again; the previous value and state come back after.
class TraceTest : public ::testing::Test {
protected:
    void use(const char* value) {
        if (value) kvx::platform::setEnv("KVX_TRACE", value);
        else kvx::platform::unsetEnv("KVX_TRACE");
        kvx::traceRestart();
    }
    void TearDown() override {
        restore_.reset();
        kvx::traceRestart();
    }

    kvx::test::TempDir dir_{"kvx-trace-"};
    std::unique_ptr<kvx::test::SavedVariable> restore_ = std::make_unique<kvx::test::SavedVariable>("KVX_TRACE");
};

}  // namespace

TEST_F(TraceTest, UnsetOrEmptyWritesNothingAndCreatesNoFile) {
    use(nullptr);
    EXPECT_FALSE(kvx::traceEnabled());
    kvx::trace("never %d", 1);
    use("");
    EXPECT_FALSE(kvx::traceEnabled());
    kvx::trace("never %d", 2);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(TraceTest, FileGetsOnePrefixedLinePerCallAndIsAppendedTo) {
    std::string file = dir_ / "trace.txt";
    dir_.write("trace.txt", "earlier run\n");
    use(file.c_str());
    ASSERT_TRUE(kvx::traceEnabled());
    kvx::trace("order %s", "csie");
    kvx::trace("code %d", 7);
    // Flushed per line: readable while the writer is still open.
    EXPECT_EQ(readAll(file), "earlier run\nkvx: order csie\nkvx: code 7\n");
}

TEST_F(TraceTest, DashWritesToStandardError) {
    use("-");
    ASSERT_TRUE(kvx::traceEnabled());
    testing::internal::CaptureStderr();
    kvx::trace("chose %s", "jvm");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kvx: chose jvm\n");
}

TEST_F(TraceTest, UnwritableTargetTurnsTracingOff) {
    std::string file = (dir_.path() / "missing-dir" / "trace.txt").string();
    use(file.c_str());
    EXPECT_FALSE(kvx::traceEnabled());
    kvx::trace("lost");
    EXPECT_FALSE(std::filesystem::exists(file));
}
