#pragma once
// Whether a runtime library can be loaded into this process at all: a 32-bit program cannot
// load a 64-bit jvm.dll and the other way round. Read from the file's header (PE on
// Windows, ELF on Linux) without loading it.

#include <cstdint>

namespace kvx {

enum class LibraryFit {
    Matches,            // built for this program's machine
    WrongArchitecture,  // a library of this platform's format, for another machine
    Unknown,            // unreadable or not a library of this platform: the loader decides
};

struct LibraryCheck {
    LibraryFit fit = LibraryFit::Unknown;
    int32_t bits = 0;  // 32 or 64 for a library whose machine is known, else 0
};

// The header of the file at `path`.
LibraryCheck checkLibraryArchitecture(const char* path);
// The same over the first `headSize` bytes of a file (a PE header beyond them reads as
// Unknown).
LibraryCheck checkLibraryHeader(const unsigned char* head, uint32_t headSize);
// 32 or 64: this program's own word size.
int32_t programBits();

}  // namespace kvx
