#pragma once
// StubCheck: a stub must be a launcher that can start: a PE image for x86 or x64, or an
// x86-64 ELF for the host, and not one that already carries an archive.

#include <string>

#include "cli/CommandLine.h"
#include "zip/ByteSource.h"

namespace kvxpack {

enum class StubKind { Unknown, PeX86, PeX64, ElfX64 };

StubKind stubKind(ByteSource& stub);

// `arch`, when `archGiven`, is the kind required; otherwise any launcher kind passes.
// Fails with a reason (without the file's name).
[[nodiscard]] bool checkStub(ByteSource& stub, StubArch arch, bool archGiven, std::string& error);

}  // namespace kvxpack
