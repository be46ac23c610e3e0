#pragma once
// Inspector: what an executable made by kvxpack holds, in words: the launcher kind, the
// configuration text as the launcher reads it, the archive and the resources.

#include <string>

namespace kvxpack {

// Fills `report` with the description of the executable at `path`; fails with a one-line
// reason when the file cannot be read or is not a kvx executable.
[[nodiscard]] bool inspectExecutable(const std::string& path, std::string& report, std::string& error);

}  // namespace kvxpack
