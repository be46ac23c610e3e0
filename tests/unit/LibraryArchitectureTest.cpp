#include "jre/LibraryArchitecture.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

using kvx::LibraryFit;

namespace {

kvx::LibraryCheck checkBytes(const std::string& bytes) {
    return kvx::checkLibraryHeader(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST(LibraryArchitectureTest, OwnAndOtherWordSizeAreToldApartFromTheHeader) {
    kvx::test::TempDir dir("kvx-arch-");
    auto own = kvx::checkLibraryArchitecture(dir.write("own.lib", kvx::test::ownArchitectureLibrary()).c_str());
    EXPECT_EQ(own.fit, LibraryFit::Matches);
    EXPECT_EQ(own.bits, kvx::programBits());
    auto other = kvx::checkLibraryArchitecture(dir.write("other.lib", kvx::test::otherArchitectureLibrary()).c_str());
    EXPECT_EQ(other.fit, LibraryFit::WrongArchitecture);
    EXPECT_EQ(other.bits, kvx::programBits() == 64 ? 32 : 64);
    EXPECT_EQ(kvx::programBits(), static_cast<int>(sizeof(void*) * 8));
}

TEST(LibraryArchitectureTest, AnythingElseIsLeftToTheLoader) {
    kvx::test::TempDir dir("kvx-arch-");
    EXPECT_EQ(kvx::checkLibraryArchitecture(dir.write("text.lib", "just text, no header").c_str()).fit,
              LibraryFit::Unknown);
    EXPECT_EQ(kvx::checkLibraryArchitecture(dir.write("empty.lib", "").c_str()).fit, LibraryFit::Unknown);
    EXPECT_EQ(kvx::checkLibraryArchitecture((dir / "missing.lib").c_str()).fit, LibraryFit::Unknown);
    EXPECT_EQ(kvx::checkLibraryArchitecture(nullptr).fit, LibraryFit::Unknown);
    // "MZ" whose header offset points past the end, or at something that is not "PE\0\0".
    std::string truncated = kvx::test::peImage(0x14C).substr(0, 0x60);
    EXPECT_EQ(checkBytes(truncated).fit, LibraryFit::Unknown);
    std::string wrongSignature = kvx::test::peImage(0x14C);
    wrongSignature[0x81] = 'X';
    EXPECT_EQ(checkBytes(wrongSignature).fit, LibraryFit::Unknown);
    std::string farOffset = kvx::test::peImage(0x14C);
    farOffset[0x3F] = '\x7F';  // 2 GiB out
    EXPECT_EQ(kvx::checkLibraryArchitecture(dir.write("far.lib", farOffset).c_str()).fit, LibraryFit::Unknown);
#ifdef _WIN32
    EXPECT_EQ(checkBytes(kvx::test::elfImage(2, 62)).fit, LibraryFit::Unknown);  // not this system's format
#else
    EXPECT_EQ(checkBytes(kvx::test::peImage(0x8664)).fit, LibraryFit::Unknown);
    EXPECT_EQ(checkBytes(kvx::test::elfImage(2, 183)).fit, LibraryFit::WrongArchitecture);  // aarch64
#endif
}

TEST(LibraryArchitectureTest, PeHeaderBeyondTheFirstKilobyteIsStillRead) {
    kvx::test::TempDir dir("kvx-arch-");
    auto far = kvx::checkLibraryArchitecture(dir.write("far.lib", kvx::test::peImage(0x8664, 0x2000)).c_str());
#ifdef _WIN32
    EXPECT_EQ(far.fit, sizeof(void*) == 8 ? LibraryFit::Matches : LibraryFit::WrongArchitecture);
    EXPECT_EQ(far.bits, 64);
#else
    EXPECT_EQ(far.fit, LibraryFit::Unknown);
#endif
}
