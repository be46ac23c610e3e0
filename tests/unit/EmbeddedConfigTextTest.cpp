#include "config/EmbeddedConfigText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

#include "TestSupport.h"

using kvx::AppString;
using kvx::CONFIG_SEARCH_WINDOW;
using kvx::CONFIG_TEXT_LIMIT;
using kvx::EmbeddedConfigText;
using kvx::findEmbeddedConfig;
namespace fs = std::filesystem;

namespace {

using kvx::test::TempDir;

using Bytes = std::vector<unsigned char>;

// An end record with the given comment-length field, then `text`, after `prefix`.
Bytes archiveTail(const Bytes& prefix, const std::string& text, int commentLength = -1) {
    Bytes out = prefix;
    unsigned char record[22] = {0x50, 0x4B, 0x05, 0x06};
    size_t n = commentLength < 0 ? text.size() : static_cast<size_t>(commentLength);
    record[20] = static_cast<unsigned char>(n & 0xFF);
    record[21] = static_cast<unsigned char>((n >> 8) & 0xFF);
    out.insert(out.end(), record, record + 22);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

std::string found(const Bytes& bytes) {
    AppString text = findEmbeddedConfig(bytes.data(), bytes.size());
    return std::string(text.c_str(), static_cast<size_t>(text.length()));
}

// Text without any signature bytes in it.
std::string plainText(size_t n) {
    std::string s(n, 'a');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}


std::string fileOf(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    return dir.write(name, bytes.data(), bytes.size());
}

std::string readFile(const std::string& path) {
    EmbeddedConfigText text(path.c_str());
    return std::string(text.c_str(), static_cast<size_t>(text.length()));
}

}  // namespace

TEST(EmbeddedConfigTextTest, TextRunsFromRecordToEndWhateverTheLengthField) {
    EXPECT_EQ(found(archiveTail({1, 2, 3}, "mainclass app.Main\r\nminjre 1.6")), "mainclass app.Main\r\nminjre 1.6");
    EXPECT_EQ(found(archiveTail({}, "mainclass a\r\n")), "mainclass a\r\n");
    EXPECT_EQ(found(archiveTail({}, "0123456789", 3)), "0123456789");
    EXPECT_EQ(found(archiveTail({}, "0123456789", 60000)), "0123456789");
    // Bytes are copied as they are, zero bytes included.
    EXPECT_EQ(found(archiveTail({}, std::string("a\0b", 3))), std::string("a\0b", 3));
}

TEST(EmbeddedConfigTextTest, EmptyTextAndExactRecordSize) {
    Bytes empty = archiveTail({9, 9}, "");
    EXPECT_EQ(found(empty), "");
    Bytes exact = archiveTail({}, "");
    ASSERT_EQ(exact.size(), 22u);
    EXPECT_EQ(found(exact), "");
    EXPECT_EQ(found(archiveTail({}, "z")), "z");
}

TEST(EmbeddedConfigTextTest, LimitIsFoundWholeAndOneMoreIsNotFound) {
    std::string limit = plainText(CONFIG_TEXT_LIMIT);
    EXPECT_EQ(found(archiveTail(Bytes(1000, 0), limit)), limit);
    EXPECT_EQ(found(archiveTail({}, limit)), limit);
    EXPECT_EQ(found(archiveTail(Bytes(1000, 0), plainText(CONFIG_TEXT_LIMIT + 1))), "");
    EXPECT_EQ(found(archiveTail({}, plainText(CONFIG_TEXT_LIMIT + 1))), "");
}

TEST(EmbeddedConfigTextTest, SignatureNearestTheEndWins) {
    std::string text = "before" + std::string("PK\x05\x06", 4) + std::string(18, '.') + "after";
    EXPECT_EQ(found(archiveTail({}, text)), "after");
    // Only 21 bytes follow this one: never a candidate, the record before it counts.
    std::string tail = "abc" + std::string("PK\x05\x06", 4) + std::string(17, '.');
    EXPECT_EQ(found(archiveTail({}, tail)), tail);
    // The signature inside an over-long text is what the search finds.
    std::string longText = plainText(CONFIG_TEXT_LIMIT + 100);
    longText.replace(200, 4, std::string("PK\x05\x06", 4));
    EXPECT_EQ(found(archiveTail({}, longText)), longText.substr(222));
}

TEST(EmbeddedConfigTextTest, ShortOrMissingInputGivesEmptyText) {
    Bytes sig = {0x50, 0x4B, 0x05, 0x06};
    Bytes shortFile = sig;
    shortFile.resize(21, 0);
    EXPECT_EQ(found(shortFile), "");
    EXPECT_EQ(findEmbeddedConfig(nullptr, 100).length(), 0);
    EXPECT_EQ(findEmbeddedConfig(sig.data(), 0).length(), 0);
    EXPECT_EQ(findEmbeddedConfig(sig.data(), 4).length(), 0);
}

TEST(EmbeddedConfigTextTest, RandomBytesGiveASuffixOfTheWindowOrNothing) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes(random() % 300);
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(random() % 8 == 0 ? 0x50 : random() % 8);
        // Plant signatures now and then; the byte alphabet above makes partial ones common.
        if (bytes.size() >= 4 && random() % 2) {
            size_t at = random() % (bytes.size() - 3);
            bytes[at] = 0x50, bytes[at + 1] = 0x4B, bytes[at + 2] = 0x05, bytes[at + 3] = 0x06;
        }
        std::string text = found(bytes);
        size_t expectedStart = 0;
        bool any = false;
        for (size_t p = bytes.size() >= 22 ? bytes.size() - 22 + 1 : 0; p-- > 0;) {
            if (bytes[p] == 0x50 && bytes[p + 1] == 0x4B && bytes[p + 2] == 0x05 && bytes[p + 3] == 0x06) {
                expectedStart = p + 22;
                any = true;
                break;
            }
        }
        std::string expected = any ? std::string(bytes.begin() + expectedStart, bytes.end()) : std::string();
        ASSERT_EQ(text, expected) << "round " << round;
    }
}

TEST(EmbeddedConfigTextTest, ReadsTheTailOfARealFile) {
    TempDir dir;
    std::string text = "mainclass app.Main\r\noption -Xmx64m";
    // A prefix that makes the window start in the middle of a page.
    EXPECT_EQ(readFile(fileOf(dir, "big.exe", archiveTail(Bytes(3 * 65536 + 4097, 0x50), text))), text);
    EXPECT_EQ(readFile(fileOf(dir, "small.exe", archiveTail({'M', 'Z'}, text))), text);
    std::string limit = plainText(CONFIG_TEXT_LIMIT);
    EXPECT_EQ(readFile(fileOf(dir, "limit.exe", archiveTail(Bytes(70000, 1), limit))), limit);
    EXPECT_EQ(readFile(fileOf(dir, "over.exe", archiveTail(Bytes(70000, 1), plainText(CONFIG_TEXT_LIMIT + 1)))), "");
    EXPECT_EQ(readFile(fileOf(dir, "zero.exe", archiveTail(Bytes(70000, 1), ""))), "");
}

TEST(EmbeddedConfigTextTest, FilesWithoutATextGiveEmptyText) {
    TempDir dir;
    EXPECT_EQ(readFile(fileOf(dir, "empty.exe", {})), "");
    EXPECT_EQ(readFile(fileOf(dir, "tiny.exe", {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0})), "");
    EXPECT_EQ(readFile(fileOf(dir, "plain.exe", Bytes(200000, 'M'))), "");
    EXPECT_EQ(readFile((dir.path() / "missing.exe").string()), "");
    EXPECT_EQ(readFile(dir.path().string()), "");
    EXPECT_EQ(EmbeddedConfigText(nullptr).length(), 0);
    EXPECT_EQ(EmbeddedConfigText("").length(), 0);
}

TEST(EmbeddedConfigTextTest, NothingStaysOpenAfterReading) {
    TempDir dir;
    std::string path = fileOf(dir, "tool.exe", archiveTail(Bytes(100000, 0), "mainclass a.B"));
    EXPECT_EQ(readFile(path), "mainclass a.B");
    // Windows refuses to delete a file that is still open or mapped.
    EXPECT_EQ(std::remove(path.c_str()), 0);
}

TEST(EmbeddedConfigTextTest, RunningExecutableIsReadFromItsOwnPath) {
    // The build appends this text to the test executable, as kvxpack does to a launcher.
    const char* const OWN_TEXT = "mainclass kvx.unit.OwnText\r\noption -Dkvx.unit=own";
    AppString own = kvx::platform::modulePath();
    ASSERT_FALSE(own.isEmpty());
    EmbeddedConfigText running;
    EXPECT_STREQ(running.c_str(), OWN_TEXT);
    EXPECT_STREQ(EmbeddedConfigText(own.c_str()).c_str(), OWN_TEXT);
}
