#pragma once
// The command-line options that fill ResourceOptions: checked here, so that a bad value is
// refused before any file is read.

#include <string>
#include <string_view>

#include "cli/CommandLine.h"

namespace kvxpack {

// --console and --utf8, which take no value; true when `argument` was one of them.
bool resourceFlag(std::string_view argument, ResourceOptions& options);

// --icon, --tray-icon, --splash, --version and --manifest with their value.
[[nodiscard]] bool addResourceOption(std::string_view name, const std::string& value, ResourceOptions& options,
                                     std::string& error);

}  // namespace kvxpack
