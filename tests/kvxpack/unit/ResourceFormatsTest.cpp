// Unit tests of kvxpack's resource formats: the resource tree, the checksum, version records,
// manifests, icons and bitmaps.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "ico/BitmapFile.h"
#include "ico/IconFile.h"
#include "pe/Checksum.h"
#include "pe/Manifest.h"
#include "pe/ResourceTree.h"
#include "pe/VersionRecord.h"

namespace kvxpack {
namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(ResourceTreeTest, WritesNamedEntriesFirstAndReadsBackWhole) {
    ResourceTree tree;
    tree.put(ResourceName::number(14), ResourceName::number(7), 0, bytesOf("seven"));
    tree.put(ResourceName::number(14), ResourceName::named(u"APPICON"), 0, bytesOf("app"));
    tree.put(ResourceName::number(6), ResourceName::number(1), 0x0804, bytesOf("zh"));
    tree.put(ResourceName::number(6), ResourceName::number(1), 0x0409, bytesOf("en"));
    tree.put(ResourceName::named(u"CUSTOM"), ResourceName::named(u"APPICON"), 0, bytesOf("shared name"));
    const Bytes section = writeResourceTree(tree, 0x5000);

    // Root: one named type, then the numbered ones ascending.
    EXPECT_EQ(le16(section.data() + 12), 1);
    EXPECT_EQ(le16(section.data() + 14), 2);
    EXPECT_NE(le32(section.data() + 16) & 0x80000000u, 0u);
    EXPECT_EQ(le32(section.data() + 24), 6u);
    EXPECT_EQ(le32(section.data() + 32), 14u);

    ResourceTree read;
    std::string error;
    ASSERT_TRUE(readResourceTree(section.data(), section.size(), 0x5000, read, error)) << error;
    EXPECT_EQ(read.types(), tree.types());
    // A second write is the same bytes: nothing depends on time or addresses of the run.
    EXPECT_EQ(writeResourceTree(read, 0x5000), section);
}

TEST(ResourceTreeTest, DataIsAlignedAndAddressedFromTheSectionStart) {
    ResourceTree tree;
    tree.put(ResourceName::number(2), ResourceName::number(100), 0, bytesOf("abc"));
    tree.put(ResourceName::number(2), ResourceName::number(101), 0, bytesOf("defgh"));
    const Bytes section = writeResourceTree(tree, 0x7000);
    ResourceTree read;
    std::string error;
    ASSERT_TRUE(readResourceTree(section.data(), section.size(), 0x7000, read, error)) << error;
    EXPECT_EQ(read.find(ResourceName::number(2), ResourceName::number(101))->at(0).data, bytesOf("defgh"));
    // Read at another address, the data entries point outside the section.
    EXPECT_FALSE(readResourceTree(section.data(), section.size(), 0x8000, read, error));
}

TEST(ResourceTreeTest, MalformedTreesFailWithAReason) {
    std::string error;
    ResourceTree tree;
    // A root that claims more entries than the bytes hold.
    Bytes cut(16, 0);
    cut[14] = 5;
    EXPECT_FALSE(readResourceTree(cut.data(), cut.size(), 0, tree, error));
    EXPECT_NE(error.find("cut off"), std::string::npos);
    // A root entry pointing at itself: directories nested deeper than three levels.
    Bytes loop(24, 0);
    loop[14] = 1;
    put32(loop.data() + 16, 3);
    put32(loop.data() + 20, 0x80000000u);
    EXPECT_FALSE(readResourceTree(loop.data(), loop.size(), 0, tree, error));
    // Many entries all pointing at one directory: bounded work, then a clear failure.
    Bytes wide(16 + 8 * 60000, 0);
    put16(wide.data() + 14, 60000);
    for (std::size_t i = 0; i < 60000; ++i) {
        put32(wide.data() + 16 + 8 * i, static_cast<std::uint32_t>(i % 65535));
        put32(wide.data() + 20 + 8 * i, 0x80000000u);
    }
    EXPECT_FALSE(readResourceTree(wide.data(), wide.size(), 0, tree, error));
}

TEST(PeChecksumTest, SumsWordsAddsTheLengthAndTakesPiecesInAnyOrder) {
    const Bytes small = {0x01, 0x02, 0x03};
    PeChecksum one;
    one.add(small.data(), small.size(), 0);
    EXPECT_EQ(one.finish(3), 0x0201u + 0x0003u + 3u);

    Bytes data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
    PeChecksum whole;
    whole.add(data.data(), data.size(), 0);
    PeChecksum pieces;
    pieces.add(data.data() + 501, 499, 501);  // starts on an odd offset
    pieces.add(data.data(), 17, 0);
    pieces.add(data.data() + 17, 484, 17);
    EXPECT_EQ(pieces.finish(1000), whole.finish(1000));
    // Reference: one's-complement sum of the 16-bit words with the carry folded in each step.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 2) {
        sum += data[i] | (data[i + 1] << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    EXPECT_EQ(whole.finish(1000), sum + 1000);
    // A megabyte of high bytes from an odd address, summed whole and in pieces, against the
    // same reference: the wide loop's lanes must neither overflow nor lose a word.
    Bytes large((1u << 20) + 10);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(0xF0 | (i * 7 + i / 999));
    const unsigned char* odd = large.data() + 1;
    const std::size_t length = large.size() - 2;  // even
    std::uint32_t largeSum = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        largeSum += odd[i] | (odd[i + 1] << 8);
        largeSum = (largeSum & 0xFFFF) + (largeSum >> 16);
    }
    PeChecksum largeWhole;
    largeWhole.add(odd, length, 0);
    EXPECT_EQ(largeWhole.finish(length), largeSum + length);
    PeChecksum largePieces;
    largePieces.add(odd, 33, 0);
    largePieces.add(odd + 33, length - 33, 33);
    EXPECT_EQ(largePieces.finish(length), largeSum + length);
    // All ones: the sum stays 0xFFFF rather than folding to 0.
    const Bytes ones(64, 0xFF);
    PeChecksum full;
    full.add(ones.data(), ones.size(), 0);
    EXPECT_EQ(full.finish(64), 0xFFFFu + 64u);
}

TEST(VersionRecordTest, NumbersComeFromTheLeadingDigits) {
    std::array<std::uint16_t, 4> numbers{};
    std::string error;
    ASSERT_TRUE(parseVersionNumbers("1.2.3.4", numbers, error));
    EXPECT_EQ(numbers, (std::array<std::uint16_t, 4>{1, 2, 3, 4}));
    ASSERT_TRUE(parseVersionNumbers("2.0 beta", numbers, error));
    EXPECT_EQ(numbers, (std::array<std::uint16_t, 4>{2, 0, 0, 0}));
    ASSERT_TRUE(parseVersionNumbers("10.65535.x", numbers, error));
    EXPECT_EQ(numbers, (std::array<std::uint16_t, 4>{10, 65535, 0, 0}));
    ASSERT_TRUE(parseVersionNumbers("1.2.3.4.5", numbers, error));
    EXPECT_EQ(numbers[3], 4);
    EXPECT_FALSE(parseVersionNumbers("v1.2", numbers, error));
    EXPECT_FALSE(parseVersionNumbers("1.65536", numbers, error));
    EXPECT_FALSE(parseVersionNumbers("", numbers, error));
}

TEST(VersionRecordTest, RecordReadsBackWithItsStringsAndNumbers) {
    Bytes record;
    std::string error;
    ASSERT_TRUE(versionResource({{"ProductName", "K\xC3\xA9 \xF0\x9F\x98\x80"}, {"FileVersion", "3.1.4"}}, record,
                                error))
        << error;
    EXPECT_EQ(record.size() % 4, 0u);
    EXPECT_EQ(le16(record.data()), record.size());
    std::array<std::uint16_t, 4> numbers{};
    std::vector<VersionEntry> entries;
    ASSERT_TRUE(readVersionResource(record, numbers, entries));
    EXPECT_EQ(numbers, (std::array<std::uint16_t, 4>{3, 1, 4, 0}));
    ASSERT_EQ(entries.size(), 3u);
    // The string table lists the keys in their fixed order, not the command line's; without a
    // ProductVersion of its own, the product version's string is the file version's.
    EXPECT_EQ(entries[0].key, "FileVersion");
    EXPECT_EQ(entries[1].key, "ProductVersion");
    EXPECT_EQ(entries[1].value, "3.1.4");
    EXPECT_EQ(entries[2].value, "K\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_FALSE(versionResource({{"ProductName", "\xC0\xAF"}}, record, error));  // overlong '/'
}

TEST(VersionRecordTest, Utf8IsCheckedStrictly) {
    std::u16string wide;
    EXPECT_TRUE(utf8ToUtf16("a\xE2\x82\xAC", wide));
    EXPECT_EQ(wide, u"a\u20AC");
    EXPECT_FALSE(utf8ToUtf16("\xED\xA0\x80", wide));   // a surrogate
    EXPECT_FALSE(utf8ToUtf16("\xE2\x82", wide));       // cut off
    EXPECT_FALSE(utf8ToUtf16("\xF4\x90\x80\x80", wide));  // past U+10FFFF
    EXPECT_TRUE(utf8ToUtf16("\xF0\x90\x80\x80", wide));
    EXPECT_EQ(utf16ToUtf8(wide), "\xF0\x90\x80\x80");
}

TEST(ManifestTest, BuiltInManifestsAreWellFormedAndUtf8AddsTheCodePage) {
    std::string error;
    EXPECT_TRUE(checkManifest(builtInManifest(false), error)) << error;
    EXPECT_TRUE(checkManifest(builtInManifest(true), error)) << error;
    EXPECT_EQ(builtInManifest(false).find("activeCodePage"), std::string::npos);
    EXPECT_NE(builtInManifest(true).find(">UTF-8</activeCodePage>"), std::string::npos);
    EXPECT_NE(builtInManifest(false).find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

TEST(ManifestTest, WellFormednessIsChecked) {
    std::string error;
    EXPECT_TRUE(checkManifest("\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- c --><asm:assembly a=\"x>y\"><b/>t</asm:assembly>\n",
                              error))
        << error;
    EXPECT_FALSE(checkManifest("<assembly><a></b></assembly>", error));
    EXPECT_FALSE(checkManifest("<assembly/><assembly/>", error));
    EXPECT_FALSE(checkManifest("text<assembly/>", error));
    EXPECT_FALSE(checkManifest("<assembly a=\"open>", error));
    EXPECT_FALSE(checkManifest("<assembly><!-- open </assembly>", error));
    EXPECT_FALSE(checkManifest("<other/>", error));
    EXPECT_FALSE(checkManifest("", error));
}

TEST(IconFileTest, ImagesAndGroupDirectory) {
    // Two images: a 40-byte-header bitmap and a PNG stream.
    Bytes file = {0, 0, 1, 0, 2, 0};
    const Bytes dib = [] {
        Bytes b(48, 0);
        put32(b.data(), 40);
        return b;
    }();
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};
    auto entry = [&](std::uint8_t side, const Bytes& data, std::uint32_t offset) {
        const Bytes e = {side, side, 0, 0, 1, 0, 32, 0};
        file.insert(file.end(), e.begin(), e.end());
        append32(file, static_cast<std::uint32_t>(data.size()));
        append32(file, offset);
    };
    entry(16, dib, 38);
    entry(0, png, 38 + 48);
    file.insert(file.end(), dib.begin(), dib.end());
    file.insert(file.end(), png.begin(), png.end());
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(parseIcon(file.data(), file.size(), images, error)) << error;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_FALSE(images[0].png);
    EXPECT_TRUE(images[1].png);
    const Bytes group = iconGroupResource(images, 9);
    EXPECT_EQ(group.size(), 6u + 2 * 14);
    EXPECT_EQ(iconGroupIds(group), (std::vector<std::uint16_t>{9, 10}));
    EXPECT_EQ(le32(group.data() + 6 + 14 + 8), png.size());

    EXPECT_FALSE(parseIcon(file.data(), file.size() - 1, images, error));  // cut off
    file[2] = 2;
    EXPECT_FALSE(parseIcon(file.data(), file.size(), images, error));
    EXPECT_NE(error.find("cursor"), std::string::npos);
}

TEST(BitmapFileTest, GapBeforeThePixelsIsDropped) {
    // 2x1 pixels, 24 bits: rows of 8 bytes; the file leaves 4 spare bytes before the pixels.
    Bytes file = {'B', 'M'};
    append32(file, 0);
    append32(file, 0);
    append32(file, 14 + 40 + 4);
    Bytes header(40, 0);
    put32(header.data(), 40);
    put32(header.data() + 4, 2);
    put32(header.data() + 8, 1);
    put16(header.data() + 12, 1);
    put16(header.data() + 14, 24);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), {0xEE, 0xEE, 0xEE, 0xEE});
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    file.insert(file.end(), pixels.begin(), pixels.end());
    Bytes resource;
    BitmapInfo info;
    std::string error;
    ASSERT_TRUE(bitmapResource(file.data(), file.size(), resource, info, error)) << error;
    EXPECT_EQ(resource.size(), 40u + 8u);
    EXPECT_EQ(Bytes(resource.begin() + 40, resource.end()), pixels);
    EXPECT_EQ(info.width, 2);
    EXPECT_FALSE(bitmapResource(file.data(), file.size() - 1, resource, info, error));
    put16(file.data() + 14 + 14, 7);  // 7 bits per pixel
    EXPECT_FALSE(bitmapResource(file.data(), file.size(), resource, info, error));
}

TEST(BitmapFileTest, TopDownRowsAreStoredBottomUp) {
    // 1x3 pixels, 32 bits, rows stored top-down (negative height): the resource holds them
    // bottom-up under a positive height, the only order the system's loader draws.
    Bytes file = {'B', 'M'};
    append32(file, 0);
    append32(file, 0);
    append32(file, 14 + 40);
    Bytes header(40, 0);
    put32(header.data(), 40);
    put32(header.data() + 4, 1);
    put32(header.data() + 8, static_cast<std::uint32_t>(-3));
    put16(header.data() + 12, 1);
    put16(header.data() + 14, 32);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3});
    Bytes resource;
    BitmapInfo info;
    std::string error;
    ASSERT_TRUE(bitmapResource(file.data(), file.size(), resource, info, error)) << error;
    EXPECT_EQ(Bytes(resource.begin() + 40, resource.end()), (Bytes{3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1}));
    EXPECT_EQ(le32(resource.data() + 8), 3u);
    EXPECT_EQ(Bytes(resource.begin(), resource.begin() + 8), Bytes(header.begin(), header.begin() + 8));
    EXPECT_EQ(info.height, 3);
    BitmapInfo read;
    ASSERT_TRUE(bitmapResourceInfo(resource, read));
    EXPECT_EQ(read.height, 3);
}

}  // namespace
}  // namespace kvxpack
