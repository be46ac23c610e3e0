#pragma once
// The launchers carried inside kvxpack: the Linux one and the Windows ones (x86, x64, each as
// GUI and console program), as the build made them. A copied kvxpack needs no files beside it.

#include <cstddef>

#include "cli/CommandLine.h"

namespace kvxpack {

struct BuiltInStub {
    const unsigned char* bytes;
    std::size_t size;
    const char* name;  // the build file it came from, for messages: "built-in win64/kvx.exe"
};

// The launcher for `arch`; `console` picks the console-subsystem one (Windows only).
BuiltInStub builtInStub(StubArch arch, bool console);

}  // namespace kvxpack
