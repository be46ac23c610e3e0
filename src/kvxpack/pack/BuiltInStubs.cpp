#include "pack/BuiltInStubs.h"

namespace kvxpack {

namespace {
// Generated at build time from the built launchers (tools/embed-bytes.py).
#include "KVX_STUB_HOST.inc"
#include "KVX_STUB_X64.inc"
#include "KVX_STUB_X64_CONSOLE.inc"
#include "KVX_STUB_X86.inc"
#include "KVX_STUB_X86_CONSOLE.inc"
}  // namespace

BuiltInStub builtInStub(StubArch arch, bool console) {
    switch (arch) {
        case StubArch::X86:
            return console ? BuiltInStub{KVX_STUB_X86_CONSOLE, sizeof KVX_STUB_X86_CONSOLE, "built-in win32/kvxc.exe"}
                           : BuiltInStub{KVX_STUB_X86, sizeof KVX_STUB_X86, "built-in win32/kvx.exe"};
        case StubArch::X64:
            return console ? BuiltInStub{KVX_STUB_X64_CONSOLE, sizeof KVX_STUB_X64_CONSOLE, "built-in win64/kvxc.exe"}
                           : BuiltInStub{KVX_STUB_X64, sizeof KVX_STUB_X64, "built-in win64/kvx.exe"};
        case StubArch::Host: break;
    }
    return {KVX_STUB_HOST, sizeof KVX_STUB_HOST, "built-in host/kvx"};
}

}  // namespace kvxpack
