#pragma once
// Windows only: a wide command line split into arguments as the system splits it.

#include <cstdint>

#include "base/WideStringList.h"

namespace kvx::platform {

// Replaces `out` with the arguments of `line` after the first (the program's name), split by
// CommandLineToArgvW. False when the system could not split it.
[[nodiscard]] bool splitWideCommandLine(const uint16_t* line, WideStringList& out);

}  // namespace kvx::platform
