#pragma once
// Slots of the JNIEnv function table that this runtime does not provide. Each points at a
// function of its own that records "UNIMPLEMENTED <name>" and ends the process with
// EXIT_UNIMPLEMENTED, so a test that reaches one fails loudly instead of crashing.

#include <jni.h>

namespace testjvm {

// Points every function slot of `table` (not the reserved ones) at its trap.
void fillWithTraps(JNINativeInterface_& table);
[[noreturn]] void unimplemented(const char* name);

}  // namespace testjvm
