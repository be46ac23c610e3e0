#pragma once
// Exit codes with which the test runtime ends the process when something is wrong with the
// code under test or with the test itself. Below 256 so that they survive Wine and POSIX wait
// statuses, and away from the small codes a scripted System.exit uses.

namespace testjvm {

constexpr unsigned EXIT_SCRIPT_ERROR = 96;   // KVX_TESTJVM_SCRIPT cannot be read or parsed
constexpr unsigned EXIT_UNIMPLEMENTED = 97;  // a JNI function this runtime does not provide
constexpr unsigned EXIT_JNI_MISUSE = 98;     // a call a real runtime would crash on or reject

}  // namespace testjvm
