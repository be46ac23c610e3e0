// Links this variant of jvm.dll against jvmdep.dll, so that it loads only where the
// loader finds jvmdep.dll.

#include "../Dependency.h"

extern "C" __declspec(dllimport) const char* kvx_testjvm_dependency();

namespace testjvm {

const char* dependencyNote() { return kvx_testjvm_dependency(); }

}  // namespace testjvm
