#include "platform/ProgramArguments.h"

#include "base/AppWideString.h"

namespace kvx::platform {

bool narrowProgramArguments(int argc, const char* const* argv, WideStringList& out) {
    out.clear();
    AppWideString units;
    for (int i = 1; i < argc && argv; ++i) {
        units.assignNarrow(argv[i]);
        if (!out.add(units.data(), units.length())) return false;
    }
    // A conversion cut short by exhausted memory raised the process-wide flag, at which the
    // launch stops before the runtime starts.
    return true;
}

}  // namespace kvx::platform
