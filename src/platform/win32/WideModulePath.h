#pragma once
// Windows only: the executable's path as the system holds it (UTF-16, zero-terminated),
// for opening the executable's own file whatever the ANSI code page can hold.

#include <cstdint>

namespace kvx::platform {

// Null when the path could not be had.
const uint16_t* wideModulePathUnits();

}  // namespace kvx::platform
