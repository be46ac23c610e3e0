#pragma once
// The process environment. Names compare without regard to case, as on Windows; changes
// the process makes to its own environment are seen by later reads.

#include "base/AppString.h"

namespace kvx::platform {

// True when the variable is set (possibly to empty text); `value` receives its value,
// or becomes empty when it is not set.
bool getEnv(const char* name, AppString& value);
// Sets the variable for this process and the libraries and children it loads.
bool setEnv(const char* name, const char* value);
// Removes the variable from this process's environment.
bool unsetEnv(const char* name);

}  // namespace kvx::platform
