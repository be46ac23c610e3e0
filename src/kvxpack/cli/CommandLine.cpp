#include "cli/CommandLine.h"

#include <cstdint>
#include <string_view>

#include "jre/JavaVersion.h"
#include "config/ValueChecks.h"
#include "stub/ResourceArguments.h"

namespace kvxpack {

namespace {

enum class Target { Stub, Jar, Config, Arch, Out, Entry, Resource, Inspect };

struct OptionSpec {
    const char* name;
    Target target;
    const char* key;  // configuration key, for Target::Entry
    bool repeatable;
};

constexpr OptionSpec OPTIONS[] = {
    {"--stub", Target::Stub, nullptr, false},
    {"--jar", Target::Jar, nullptr, true},
    {"--config", Target::Config, nullptr, false},
    {"--arch", Target::Arch, nullptr, false},
    {"-o", Target::Out, nullptr, false},
    {"--output", Target::Out, nullptr, false},
    {"--main", Target::Entry, "mainclass", false},
    {"--minjre", Target::Entry, "minjre", false},
    {"--option", Target::Entry, "option", true},
    {"--property", Target::Entry, "property", true},
    {"--classpath", Target::Entry, "classpath", true},
    {"--libs", Target::Entry, "libs", true},
    {"--jvmdll", Target::Entry, "jvmdll", false},
    {"--jre-order", Target::Entry, "jre_order", false},
    {"--forcecwd", Target::Entry, "forcecwd", false},
    {"--cds", Target::Entry, "cds", false},
    {"--service", Target::Entry, "service", false},
    {"--service-stop", Target::Entry, "service_stop", false},
    {"--service-log", Target::Entry, "service_log", false},
    {"--single-instance", Target::Entry, "single_instance", false},
    {"--jre-url", Target::Entry, "jre_url", false},
    {"--icon", Target::Resource, nullptr, false},
    {"--tray-icon", Target::Resource, nullptr, true},
    {"--splash", Target::Resource, nullptr, false},
    {"--version", Target::Resource, nullptr, true},
    {"--manifest", Target::Resource, nullptr, false},
    {"--inspect", Target::Inspect, nullptr, false},
};

const OptionSpec* findOption(std::string_view name) {
    for (const OptionSpec& spec : OPTIONS) {
        if (name == spec.name) return &spec;
    }
    return nullptr;
}

// The launcher's search methods (either case), and the order written when --jre-order is
// not given: every method, the configured path first, then a runtime shipped beside the
// executable, today's registrations, then the classic ones.
constexpr const char* JRE_ORDER_LETTERS = "cbjvsieCBJVSIE";
constexpr const char* MODERN_JRE_ORDER = "cbjvsie";

// Without --jre-order the text gets the modern order, after every requested line.
void addDefaultOrder(PackRequest& request, const std::vector<std::string>& seenEntries) {
    for (const std::string& seen : seenEntries) {
        if (seen == "jre_order") return;
    }
    request.entries.push_back({"jre_order", MODERN_JRE_ORDER});
}

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A number of the version text as the launcher reads it: digits that stay within int.
bool isVersionNumber(std::string_view text, std::int32_t parsed) {
    if (!isDigits(text)) return false;
    while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
    return text == std::to_string(parsed);
}

// "17" or "1.8": the launcher's own reader must give back exactly these numbers (a number
// beyond int stops at its limit there, and would compare differently from what was meant).
bool isMinimumVersion(const std::string& value) {
    const kvx::JavaVersion version = kvx::parseJavaVersion(value.c_str());
    const std::size_t dot = value.find('.');
    const std::string_view text(value);
    if (dot == std::string::npos) return isVersionNumber(text, version.major);
    return isVersionNumber(text.substr(0, dot), version.major) && isVersionNumber(text.substr(dot + 1), version.minor);
}

bool checkKeyValue(std::string_view key, const std::string& value, const std::string& what, std::string& error) {
    if (key == "property") {
        const std::size_t equals = value.find('=');
        if (equals == std::string::npos) {
            error = what + ": expected NAME=VALUE";
            return false;
        }
        if (equals == 0) {
            error = what + ": the property has no name before '='";
            return false;
        }
    } else if (key == "minjre") {
        if (!isMinimumVersion(value)) {
            error = what + ": expected MAJOR or MAJOR.MINOR, numbers up to 2147483647, for example 17 or 1.8";
            return false;
        }
    } else if (key == "cds") {
        if (value != "auto" && value != "off") {
            error = what + ": expected auto or off";
            return false;
        }
    } else if (key == "jre_order") {
        if (value.find_first_not_of(JRE_ORDER_LETTERS) != std::string::npos) {
            error = what + ": use the letters c, b, j, v, s, i and e";
            return false;
        }
    } else if (key == "service") {
        // The launcher reads the key by prefix: a name beginning with "_" would be taken for
        // a service_log or service_stop line. Windows refuses slashes in service names.
        if (value.size() > 256 || value[0] == '_' || value[0] == ' ' || value.back() == ' ' ||
            value.find_first_of("/\\\t") != std::string::npos) {
            error = what + ": a service name has 1 to 256 characters, no '/' or '\\', no tab, and neither "
                           "begins with '_' nor begins or ends with a space";
            return false;
        }
    } else if (key == "service_stop") {
        const std::size_t dot = value.rfind('.');
        bool plain = dot != std::string::npos && dot > 0 && dot + 1 < value.size();
        for (unsigned char c : value) {
            if (c <= ' ' || c == 0x7F || c == '/') plain = false;
        }
        if (!plain) {
            error = what + ": expected CLASS.METHOD, for example com.example.App.stop";
            return false;
        }
    } else if (key == "single_instance") {
        if (!kvx::isSingleInstanceName(value.c_str())) {
            error = what + ": use 1 to 64 letters, digits, '.', '_' and '-'";
            return false;
        }
    } else if (key == "jre_url") {
        if (!kvx::isJreDownloadAddress(value.c_str())) {
            error = what + ": expected an http: or https: address without spaces or quotes";
            return false;
        }
    } else if (key == "mainclass") {
        // A class name holds no white space; the launcher would look for the class with it.
        for (unsigned char c : value) {
            if (c <= ' ' || c == 0x7F) {
                error = what + ": a class name cannot contain white space or control characters";
                return false;
            }
        }
    }
    return true;
}

// Each value becomes one line "key value"; refuse what the launcher would read differently.
bool checkValue(const OptionSpec& spec, const std::string& value, std::string& error) {
    const std::string what = std::string(spec.name) + " '" + value + "'";
    if (value.empty()) {
        error = std::string(spec.name) + " needs a value";
        return false;
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
        error = std::string(spec.name) + " value contains a line break";
        return false;
    }
    // The key's own rules first, so each refusal names the real problem.
    if (!checkKeyValue(spec.key, value, what, error)) return false;
    // The launcher skips spaces and one '=' between key and value.
    if (value[0] == ' ' || value[0] == '=') {
        error = what + ": a value cannot begin with a space or '='";
        return false;
    }
    return true;
}

bool setOnce(std::string& slot, const OptionSpec& spec, const std::string& value, std::string& error) {
    if (!slot.empty()) {
        error = std::string(spec.name) + " given twice";
        return false;
    }
    if (value.empty()) {
        error = std::string(spec.name) + " needs a value";
        return false;
    }
    slot = value;
    return true;
}

bool parseArch(const std::string& value, StubArch& arch, std::string& error) {
    if (value == "x86") {
        arch = StubArch::X86;
    } else if (value == "x64") {
        arch = StubArch::X64;
    } else if (value == "host") {
        arch = StubArch::Host;
    } else {
        error = "--arch '" + value + "': expected x86, x64 or host";
        return false;
    }
    return true;
}

}  // namespace

StubArch defaultStubArch() { return StubArch::X64; }

bool parseCommandLine(int argc, const char* const* argv, PackRequest& request, std::string& error) {
    request = PackRequest{};
    request.arch = defaultStubArch();
    std::string archText;
    std::vector<std::string> seenEntries;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "-h" || argument == "--help") {
            request.helpWanted = true;
            return true;
        }
        if (resourceFlag(argument, request.resources)) continue;
        if (argument == "--keep-jars") {
            request.keepJars = true;
            continue;
        }
        // Both "--name value" and "--name=value".
        const std::size_t equals = argument.rfind("--", 0) == 0 ? argument.find('=') : std::string_view::npos;
        const OptionSpec* spec = findOption(argument.substr(0, equals));
        if (!spec) {
            error = "unknown argument '" + std::string(argument) + "'";
            return false;
        }
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(argument.substr(equals + 1));
        } else if (std::string_view(spec->name) == "--cds") {
            value = "auto";  // the one switch that stands alone: "--cds" means "--cds=auto"
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = std::string(spec->name) + " needs a value";
            return false;
        }
        bool ok = true;
        switch (spec->target) {
            case Target::Stub: ok = setOnce(request.stubPath, *spec, value, error); break;
            case Target::Jar:
                ok = !value.empty();
                if (ok) request.jarPaths.push_back(value);
                else error = std::string(spec->name) + " needs a value";
                break;
            case Target::Config: ok = setOnce(request.configPath, *spec, value, error); break;
            case Target::Out: ok = setOnce(request.outPath, *spec, value, error); break;
            case Target::Arch:
                ok = setOnce(archText, *spec, value, error) && parseArch(value, request.arch, error);
                request.archGiven = true;
                break;
            case Target::Resource: ok = addResourceOption(spec->name, value, request.resources, error); break;
            case Target::Inspect: ok = setOnce(request.inspectPath, *spec, value, error); break;
            case Target::Entry:
                // --jre-order "" writes no line: the launcher then keeps its classic order.
                if (value.empty() && std::string_view(spec->key) == "jre_order") {
                    ok = true;
                    seenEntries.push_back(spec->key);
                    break;
                }
                if (!spec->repeatable) {
                    for (const std::string& seen : seenEntries) {
                        if (seen == spec->key) {
                            error = std::string(spec->name) + " given twice";
                            return false;
                        }
                    }
                    seenEntries.push_back(spec->key);
                }
                ok = checkValue(*spec, value, error);
                if (ok) request.entries.push_back({spec->key, value});
                break;
        }
        if (!ok) return false;
    }
    if (!request.inspectPath.empty()) {
        if (!request.jarPaths.empty() || !request.outPath.empty() || !request.stubPath.empty() ||
            !request.configPath.empty() || !request.entries.empty() || !archText.empty() || request.keepJars ||
            request.resources.windowsOnly()) {
            error = "--inspect takes no other arguments";
            return false;
        }
        return true;
    }
    if (request.resources.console && !archText.empty() && request.arch == StubArch::Host) {
        error = "--console needs a Windows launcher (--arch x86 or x64)";
        return false;
    }
    if (request.jarPaths.empty()) {
        error = "missing --jar APP.jar";
        return false;
    }
    if (request.keepJars && request.jarPaths.size() < 2) {
        error = "--keep-jars carries the jars after the first whole: give at least two --jar";
        return false;
    }
    if (request.outPath.empty()) {
        error = "missing -o OUT";
        return false;
    }
    addDefaultOrder(request, seenEntries);
    return true;
}

const char* usageText() {
    return "Usage: kvxpack [--stub STUB] --jar APP.jar [--jar MORE.jar]... [--keep-jars] [--main CLASS] [--minjre V] [--option O]...\n"
           "               [--property K=V]... [--classpath CP]... [--libs DIR]... [--jvmdll PATH]\n"
           "               [--jre-order ORDER] [--forcecwd DIR] [--cds] [--single-instance NAME] [--jre-url URL]\n"
           "               [--config FILE] [--arch x86|x64|host]\n"
           "               [--service NAME [--service-stop CLASS.METHOD] [--service-log FILE]]\n"
           "               [--console] [--icon ICO] [--tray-icon ID=ICO]... [--splash BMP]\n"
           "               [--version KEY=VALUE]... [--manifest FILE | --utf8] -o OUT\n"
           "       kvxpack --inspect EXE\n"
           "\n"
           "Puts a kvx executable together: the stub launcher, then one archive holding the entries of\n"
           "every --jar and the runtime classes com/quorvane/kvx/*.class, then the archive's end record\n"
           "whose comment is the configuration text.\n"
           "\n"
           "  --stub STUB        launcher to start from (default: one of those kvxpack carries, see --arch)\n"
           "  --arch ARCH        which of kvxpack's own launchers serves as stub without --stub:\n"
           "                       x86  = the 32-bit Windows launcher (kvx.exe, with --console kvxc.exe)\n"
           "                       x64  = the 64-bit Windows launcher (kvx.exe, with --console kvxc.exe)\n"
           "                       host = the Linux x86-64 launcher\n"
           "                     default: x64\n"
           "  --console          the console-subsystem launcher (kvxc.exe): standard streams reach the terminal\n"
           "  --jar APP.jar      the application's classes (a ZIP archive); repeatable: the archives are\n"
           "                     merged in order, the first entry of a name wins, entries are copied\n"
           "                     without recompression and get a fixed time stamp; META-INF/MANIFEST.MF\n"
           "                     comes from the first archive that has one; com/quorvane/kvx/*.class are\n"
           "                     always kvxpack's own (a warning tells when an input carried others)\n"
           "  --keep-jars        every --jar after the first is stored whole instead of merged; the\n"
           "                     launcher copies each into the user's cache and puts it on the class\n"
           "                     path after the executable, in input order (lines 'keepjar ...')\n"
           "  --config FILE      configuration lines placed first (line ends become CR LF)\n"
           "  --main CLASS       line 'mainclass CLASS'   (the class whose main(String[]) runs; default:\n"
           "                     the manifest's Main-Class; refused when --config names another)\n"
           "  --minjre V         line 'minjre V'          (lowest Java version: 17 or 1.8)\n"
           "  --option O         line 'option O'          (a JVM option; repeatable)\n"
           "  --property K=V     line 'property K=V'      (a system property; repeatable)\n"
           "  --classpath CP     line 'classpath CP'      (';'-separated entries; repeatable)\n"
           "  --libs DIR         line 'libs DIR'          (folder of .jar/.zip files; repeatable)\n"
           "  --jvmdll PATH      line 'jvmdll PATH'       (the Java runtime library to load)\n"
           "  --jre-order ORDER  line 'jre_order ORDER'   (letters c b j v s i e: order of the runtime\n"
           "                     searches; default cbjvsie; \"\" writes no line, the launcher's csie)\n"
           "  --forcecwd DIR     line 'forcecwd DIR'      (working directory, relative to the executable)\n"
           "  --cds              line 'cds auto'          (class-data sharing: an archive per user speeds\n"
           "                     up later starts; --cds=off writes 'cds off')\n"
           "  --service NAME     line 'service NAME'      (started by the Windows service manager, the\n"
           "                     executable runs as that service; see docs/service.md)\n"
           "  --service-stop CLASS.METHOD  line 'service_stop ...'  (static method called on stop; default\n"
           "                     System.exit(0); also on SIGTERM under systemd)\n"
           "  --service-log FILE line 'service_log FILE'  (the service's standard output and error, appended)\n"
           "  --single-instance NAME  line 'single_instance NAME' (one running copy per user and session; later\n"
           "                     starts hand their arguments to it; NAME: 1-64 of A-Z a-z 0-9 . _ -)\n"
           "  --jre-url URL      line 'jre_url URL'       (http: or https: address offered when no suitable\n"
           "                     Java runtime is found)\n"
           "  -o, --output OUT   the executable to write (replaced only when everything succeeded; a link is\n"
           "                     followed and its target replaced; anything but a regular file is refused)\n"
           "\n"
           "Resources of a Windows launcher (written into its resource section, no Windows tools needed):\n"
           "  --icon ICO         the application icon (every image of the .ico, PNG-compressed ones too)\n"
           "  --tray-icon ID=ICO an icon group with id ID (1..65535) for com.quorvane.kvx.SystemTray; repeatable\n"
           "  --splash BMP       the splash picture (bitmap 100); BMP files only\n"
           "  --version KEY=VAL  the version record; KEY is FileVersion, ProductVersion, ProductName,\n"
           "                     CompanyName, FileDescription, LegalCopyright, OriginalFilename or\n"
           "                     InternalName; the numbers come from FileVersion and ProductVersion\n"
           "  --manifest FILE    the application manifest (default: a built-in one with common controls 6,\n"
           "                     per-monitor DPI awareness, asInvoker and the supported Windows versions)\n"
           "  --utf8             the built-in manifest also sets the UTF-8 code page: write the\n"
           "                     configuration text (and --config files) in UTF-8\n"
           "  --inspect EXE      print the launcher kind, the configuration text, the archive, the\n"
           "                     Authenticode signature and the resources of EXE\n"
           "\n"
           "Lines follow the --config file in command-line order, each ended by CR LF; the text may\n"
           "hold at most 51200 bytes and neither NUL nor the bytes PK\\5\\6.\n"
           "Exit status: 0 written; 2 refused (bad arguments or input, or OUT's folder takes no file),\n"
           "nothing written; 1 writing OUT failed. An interrupt removes the temporary file.\n";
}

}  // namespace kvxpack
