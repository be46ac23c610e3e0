#pragma once

#include "base/AppString.h"

namespace kvx {

// Replaces each %NAME% whose variable is set by its value; references to unset variables
// stay as written, and their closing "%" may open the next reference. Expanded once.
AppString expandEnvRefs(const AppString& text);

}  // namespace kvx
