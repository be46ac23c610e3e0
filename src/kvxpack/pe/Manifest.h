#pragma once
// The application manifest (resource type 24, id 1): the built-in one, or the user's file
// after a well-formedness check.

#include <string>
#include <string_view>

namespace kvxpack {

// Common controls 6 (current-looking message boxes), per-monitor DPI awareness, asInvoker and
// the supported-OS entries of Windows Vista to 11. `utf8` adds the UTF-8 active code page, so
// the process's ANSI code page (and with it every text the launcher reads) is UTF-8.
std::string builtInManifest(bool utf8);

// Checks that `text` is well-formed XML whose root element is an assembly; fails with a reason.
[[nodiscard]] bool checkManifest(std::string_view text, std::string& error);

}  // namespace kvxpack
