// kvxpack: puts a kvx executable together from a launcher stub, application archives and
// configuration lines.

#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "inspect/Inspector.h"
#include "pack/Packer.h"

#ifdef _WIN32
// Arguments are file names and configuration values: the C runtime must not expand wildcards.
extern "C" int _dowildcard;
int _dowildcard = 0;
#endif

int main(int argc, char** argv) {
    kvxpack::PackRequest request;
    std::string error;
    if (!kvxpack::parseCommandLine(argc, argv, request, error)) {
        std::fprintf(stderr, "kvxpack: %s (see kvxpack --help)\n", error.c_str());
        return kvxpack::EXIT_REFUSED;
    }
    if (request.helpWanted) {
        std::fputs(kvxpack::usageText(), stdout);
        return kvxpack::EXIT_WRITTEN;
    }
    if (!request.inspectPath.empty()) {
        std::string report;
        if (!kvxpack::inspectExecutable(request.inspectPath, report, error)) {
            std::fprintf(stderr, "kvxpack: %s\n", error.c_str());
            return kvxpack::EXIT_REFUSED;
        }
        std::fputs(report.c_str(), stdout);
        return kvxpack::EXIT_WRITTEN;
    }
    const kvxpack::PackOutcome outcome = kvxpack::pack(request);
    if (outcome.exitCode != kvxpack::EXIT_WRITTEN) std::fprintf(stderr, "kvxpack: %s\n", outcome.message.c_str());
    return outcome.exitCode;
}
