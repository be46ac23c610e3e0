#pragma once
// The text of one small entry (the manifest), inflated when it is deflated, and what the
// manifest's main section says.

#include <cstddef>
#include <string>

#include "zip/ByteSource.h"
#include "zip/CentralDirectory.h"

namespace kvxpack {

// The entry's bytes: stored or deflated. At most `limit` bytes are kept (the rest is not
// inflated). Fails with a reason for other methods and for corrupt data.
[[nodiscard]] bool readEntryText(ByteSource& source, const ZipEntry& entry, std::size_t limit, std::string& text,
                                 std::string& error);

// The value of attribute `name` in the manifest's main section (the lines before the first
// empty line; names ignore case; continuation lines begin with one space), with white space
// around it removed. Empty when there is none.
std::string manifestAttribute(const std::string& manifest, const char* name);
inline std::string manifestMainClass(const std::string& manifest) { return manifestAttribute(manifest, "Main-Class"); }
// True when the main section says `Multi-Release: true` (the value's case ignored, as Java does).
bool manifestMultiRelease(const std::string& manifest);
// The manifest with `Multi-Release: true` at the end of its main section, any other
// Multi-Release line there removed; line ends as the manifest's first one.
std::string withMultiRelease(const std::string& manifest);

}  // namespace kvxpack
