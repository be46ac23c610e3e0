#include "platform/ProgramArguments.h"

namespace kvx::platform {

bool programArguments(int argc, const char* const* argv, WideStringList& out) {
    return narrowProgramArguments(argc, argv, out);
}

}  // namespace kvx::platform
