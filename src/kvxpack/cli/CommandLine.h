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

// What goes into a Windows stub's resources, and which stub variant.
struct ResourceOptions {
    std::string iconPath;                  // --icon: the application icon
    std::vector<ConfigEntry> trayIcons;    // --tray-icon ID=FILE: key is the id (1..65535), value the file
    std::string splashPath;                // --splash: bitmap 100
    std::vector<ConfigEntry> version;      // --version KEY=VALUE
    std::string manifestPath;              // --manifest: empty for the built-in manifest
    bool utf8 = false;                     // --utf8: the built-in manifest asks for the UTF-8 code page
    bool console = false;                  // --console: the console-subsystem launcher (kvxc.exe)

    // True when any option applies to Windows stubs only.
    bool windowsOnly() const {
        return !iconPath.empty() || !trayIcons.empty() || !splashPath.empty() || !version.empty() ||
               !manifestPath.empty() || utf8 || console;
    }
};

struct PackRequest {
    std::string stubPath;                 // empty: the built stub for `arch`
    StubArch arch = StubArch::Host;
    bool archGiven = false;               // --arch was given: the stub must be of that kind
    std::vector<std::string> jarPaths;    // merged in this order
    bool keepJars = false;                // --keep-jars: every jar after the first is carried whole
    std::string configPath;               // empty: no configuration file
    std::string outPath;
    std::vector<ConfigEntry> entries;     // in command-line order
    bool helpWanted = false;
    ResourceOptions resources;
    std::string inspectPath;              // --inspect EXE: print what EXE holds, write nothing
};

// The stub kvxpack takes by default: the 64-bit Windows launcher, on every host (current
// Java runtimes for Windows are 64-bit; --arch host gives the Linux launcher).
StubArch defaultStubArch();

// Fills `request` from the arguments, or fails with a one-line reason in `error`.
[[nodiscard]] bool parseCommandLine(int argc, const char* const* argv, PackRequest& request, std::string& error);

const char* usageText();

}  // namespace kvxpack
