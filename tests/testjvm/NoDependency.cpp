#include "Dependency.h"

namespace testjvm {

const char* dependencyNote() { return nullptr; }

}  // namespace testjvm
