// Views of an open file: the bytes of the range asked for, whatever its alignment, and a
// refusal (so the caller reads instead) for a range the file does not hold.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "TestSupport.h"
#include "platform/File.h"

namespace kvx::platform {
namespace {

TEST(FileViewTest, ShowsTheRangeAskedForAndRefusesOnePastTheEnd) {
    test::TempDir dir;
    std::string bytes(3 * 65536 + 123, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 4096);
    const std::string path = dir.write("data.bin", bytes.data(), bytes.size());
    File file;
    ASSERT_TRUE(file.openRead(path)) << file.lastError();

    FileView view;
    for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{4095}, std::uint64_t{70001}}) {
        const std::size_t length = bytes.size() - offset - 17;
        ASSERT_TRUE(view.map(file, offset, length)) << offset;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data()), length), bytes.substr(offset, length))
            << offset;
    }
    // The last byte exactly, then one byte too many or a start past the end.
    ASSERT_TRUE(view.map(file, bytes.size() - 1, 1));
    EXPECT_EQ(static_cast<char>(view.data()[0]), bytes.back());
    EXPECT_FALSE(view.map(file, bytes.size() - 10, 11));
    EXPECT_FALSE(view.map(file, bytes.size() + 1, 1));
    EXPECT_EQ(view.data(), nullptr);
    EXPECT_TRUE(file.lastError().empty()) << file.lastError();

    // A file cut shorter since it was opened is refused, not read past its end.
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    EXPECT_FALSE(view.map(file, 0, 101));
    ASSERT_TRUE(view.map(file, 0, 100));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data()), 100), bytes.substr(0, 100));
}

}  // namespace
}  // namespace kvx::platform
