#pragma once
// Packer: writes one kvx executable from a PackRequest.

#include <string>

#include "cli/CommandLine.h"

namespace kvxpack {

enum ExitCode { EXIT_WRITTEN = 0, EXIT_WRITE_FAILED = 1, EXIT_REFUSED = 2 };

struct PackOutcome {
    int exitCode = EXIT_WRITTEN;
    std::string message;  // one line, empty on success
};

// Stub bytes, then the archive up to its end record, then the record with the configuration
// text as its comment. Everything is checked before OUT's folder is touched; the result is
// written beside OUT and moved into place only when complete.
PackOutcome pack(const PackRequest& request);

}  // namespace kvxpack
