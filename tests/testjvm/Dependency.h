#pragma once
// The variant of the library that needs a second DLL (found only through PATH) says so at
// creation; the plain library has nothing to say.

namespace testjvm {

// Null, or a text recorded as "dependency <text>" when the machine is created.
const char* dependencyNote();

}  // namespace testjvm
