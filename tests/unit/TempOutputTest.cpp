// The files kvxpack writes and reads through the platform layer: temporary names that fit
// wherever the target fits, the kinds of paths, whole writes moved into place.

#include "platform/TempOutput.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "TestSupport.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace kvx::platform {
namespace {

std::string nameOf(const std::string& path) { return path.substr(directoryOf(path).size()); }

TEST(TemporaryNameTest, NeverLongerThanTheTargetsNameAndHiddenBeside) {
    const std::string sep(1, nativeSeparator());
    const std::string folder = "out" + sep + "dir" + sep;
    for (std::size_t length : {1u, 7u, 8u, 9u, 30u, 239u, 255u}) {
        const std::string target = folder + std::string(length, 'n');
        const std::string temporary = temporaryNameBeside(target, 4294967295ul, 99);
        EXPECT_EQ(directoryOf(temporary), folder);
        EXPECT_EQ(nameOf(temporary)[0], '.');
        // Short names get 8 characters; longer ones at most their own length.
        EXPECT_EQ(nameOf(temporary).size(), length < 8 ? 8u : (length > 24 ? 24u : length)) << length;
    }
}

TEST(TemporaryNameTest, AttemptsAndProcessesGiveDifferentNames) {
    std::set<std::string> names;
    for (unsigned long tag : {1ul, 2ul, 40000ul, 4194303ul}) {
        for (int attempt = 0; attempt < 100; ++attempt) names.insert(temporaryNameBeside("app.exe", tag, attempt));
    }
    EXPECT_EQ(names.size(), 400u);
}

TEST(FileKindTest, TellsFilesFoldersAndMissingPaths) {
    test::TempDir dir;
    const std::string file = dir.write("file.bin", "data");
    EXPECT_EQ(fileKind(file), FileKind::Regular);
    EXPECT_EQ(fileKind(dir.path().string()), FileKind::Directory);
    EXPECT_EQ(fileKind(dir / "absent.bin"), FileKind::Missing);
    std::string target, error;
    ASSERT_TRUE(finalLinkTarget(file, target, error)) << error;
    EXPECT_EQ(target, file);  // not a link: itself
}

TEST(FileTest, ReadsWholeRangesAndRefusesFolders) {
    test::TempDir dir;
    const std::string path = dir.write("data.bin", "0123456789");
    File file;
    ASSERT_TRUE(file.openRead(path)) << file.lastError();
    std::uint64_t size = 0;
    ASSERT_TRUE(file.size(size));
    EXPECT_EQ(size, 10u);
    char middle[4] = {};
    ASSERT_TRUE(file.readAt(3, middle, 4));
    EXPECT_EQ(std::string(middle, 4), "3456");
    char past[4];
    EXPECT_FALSE(file.readAt(8, past, 4));  // a short read is a failure
    EXPECT_NE(file.lastError().find("ended early"), std::string::npos) << file.lastError();

    File folder;
    EXPECT_FALSE(folder.openRead(dir.path().string()));
    EXPECT_NE(folder.lastError().find("a directory"), std::string::npos) << folder.lastError();
}

TEST(TempOutputTest, CommitReplacesTheTargetAndNothingElseStays) {
    test::TempDir dir;
    const std::string target = dir.write("app.exe", "old");
    {
        TempOutput output;
        std::string error;
        ASSERT_TRUE(output.create(target, error)) << error;
        ASSERT_TRUE(output.file().write("new", 3));
        // Until the commit the target is untouched.
        std::ifstream before(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "old");
        before.close();
        ASSERT_TRUE(output.commit(error)) << error;
    }
    std::ifstream after(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(TempOutputTest, PatchedBytesLeaveAppendingAtTheEnd) {
    test::TempDir dir;
    const std::string target = dir / "app.exe";
    {
        TempOutput output;
        std::string error;
        ASSERT_TRUE(output.create(target, error)) << error;
        ASSERT_TRUE(output.file().write("header--body", 12));
        ASSERT_TRUE(output.file().writeAt(6, "::", 2));
        ASSERT_TRUE(output.file().write("-tail", 5));
        ASSERT_TRUE(output.commit(error)) << error;
    }
    std::ifstream after(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "header::body-tail");
}

TEST(TempOutputTest, WithoutCommitTheTemporaryFileGoes) {
    test::TempDir dir;
    const std::string target = dir / "app.exe";
    {
        TempOutput output;
        std::string error;
        ASSERT_TRUE(output.create(target, error)) << error;
        ASSERT_TRUE(output.file().write("partial", 7));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

TEST(TempOutputTest, ATargetThatBecameAFolderIsNotReplaced) {
    test::TempDir dir;
    const std::string target = dir / "app.exe";
    TempOutput output;
    std::string error;
    ASSERT_TRUE(output.create(target, error)) << error;
    std::filesystem::create_directory(target);
    EXPECT_FALSE(output.commit(error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(target));
}

}  // namespace
}  // namespace kvx::platform
