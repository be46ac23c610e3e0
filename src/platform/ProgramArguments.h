#pragma once
// The arguments the program was started with, as the UTF-16 text Java's main receives.

#include "base/WideStringList.h"

namespace kvx::platform {

// Replaces `out` with the arguments after the program's name. Windows: the process's wide
// command line split by the system's own rules (CommandLineToArgvW), so characters outside
// the ANSI code page arrive whole; `argv` only stands in when that cannot be had. Linux:
// `argv` read as UTF-8. False when memory ran out (which memoryExhausted() reports too).
[[nodiscard]] bool programArguments(int argc, const char* const* argv, WideStringList& out);

// `argv` after the program's name, each read in the process's code page: Linux's arguments,
// and Windows' stand-in when the wide command line cannot be had.
[[nodiscard]] bool narrowProgramArguments(int argc, const char* const* argv, WideStringList& out);

}  // namespace kvx::platform
