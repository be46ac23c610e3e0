#pragma once
// The system's text for a Win32 error code, without the trailing line end.

#include <string>

namespace kvx::platform {

std::string windowsErrorText(unsigned long code);

}  // namespace kvx::platform
