#pragma once
// The command line of kvxpack: what to put together, and the configuration lines to embed.

#include <string>
#include <vector>

namespace kvxpack {

// Which built launcher serves as the stub when --stub is not given.
enum class StubArch { Host, X86, X64 };

struct ConfigEntry {
    std::string key;    // configuration key as the launcher reads it
    std::string value;
};

struct PackRequest {
    std::string stubPath;                 // empty: the built stub for `arch`
    StubArch arch = StubArch::Host;
    bool archGiven = false;               // --arch was given: the stub must be of that kind
    std::vector<std::string> jarPaths;    // merged in this order
    std::string configPath;               // empty: no configuration file
    std::string outPath;
    std::vector<ConfigEntry> entries;     // in command-line order
    bool helpWanted = false;
};

// The stub kvxpack takes by default: the kind of system it runs on (Linux: host; a Windows
// kvxpack takes the kvx.exe built beside it, of its own bitness).
StubArch defaultStubArch();

// Fills `request` from the arguments, or fails with a one-line reason in `error`.
[[nodiscard]] bool parseCommandLine(int argc, const char* const* argv, PackRequest& request, std::string& error);

const char* usageText();

}  // namespace kvxpack
