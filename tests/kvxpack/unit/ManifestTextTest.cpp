// Unit tests of the manifest's main section as kvxpack reads and rewrites it when jars merge.
#include <gtest/gtest.h>

#include <string>

#include "zip/EntryText.h"

namespace kvxpack {
namespace {

TEST(ManifestTextTest, MultiReleaseIsReadFromTheMainSectionOnly) {
    EXPECT_TRUE(manifestMultiRelease("Manifest-Version: 1.0\r\nmulti-release:  True \r\n\r\n"));
    EXPECT_FALSE(manifestMultiRelease("Manifest-Version: 1.0\r\nMulti-Release: false\r\n"));
    // A later section's attribute is not the archive's.
    EXPECT_FALSE(manifestMultiRelease("Manifest-Version: 1.0\n\nName: a/B.class\nMulti-Release: true\n"));
    EXPECT_FALSE(manifestMultiRelease(""));
}

TEST(ManifestTextTest, MultiReleaseGoesAtTheMainSectionsEndWithItsLineEnds) {
    // The main section ends at an empty line; a section after it stays as it was.
    EXPECT_EQ(withMultiRelease("Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\nName: x\r\n"),
              "Manifest-Version: 1.0\r\nMain-Class: a.B\r\nMulti-Release: true\r\n\r\nName: x\r\n");
    // No empty line, and a last line without its line end.
    EXPECT_EQ(withMultiRelease("Manifest-Version: 1.0\nCreated-By: me"),
              "Manifest-Version: 1.0\nCreated-By: me\nMulti-Release: true\n");
    // An old Multi-Release attribute goes with its continuation line, wherever it stood.
    EXPECT_EQ(withMultiRelease("Multi-Release: fa\r\n lse\r\nManifest-Version: 1.0\r\n"),
              "Manifest-Version: 1.0\r\nMulti-Release: true\r\n");
    EXPECT_EQ(withMultiRelease("Manifest-Version: 1.0\rA: b\r"), "Manifest-Version: 1.0\rA: b\rMulti-Release: true\r");
    EXPECT_EQ(withMultiRelease(""), "Multi-Release: true\r\n");
    // What was made reads back as multi-release, with the main class kept.
    const std::string made = withMultiRelease("Manifest-Version: 1.0\nMain-Class: a.B\n");
    EXPECT_TRUE(manifestMultiRelease(made));
    EXPECT_EQ(manifestMainClass(made), "a.B");
}

}  // namespace
}  // namespace kvxpack
