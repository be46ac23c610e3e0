#include "jre/JvmDiscovery.h"

#include "base/GrowBuffer.h"
#include "base/StringPool.h"
#include "base/TextView.h"
#include "base/Trace.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "config/EnvRefs.h"
#include "jre/LibraryArchitecture.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/JavaRuntime.h"
#include "platform/Registry.h"

namespace kvx {

namespace {

constexpr const char* JAVASOFT_KEY = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr const char* IBM_KEY = "SOFTWARE\\IBM\\Java2 Runtime Environment";
constexpr uint32_t REGISTRY_VALUE_BUFFER = 260;
constexpr int32_t RUNTIME_LIB_ELEMENTS_CUT = 2;

// Java 9 and later register under these keys instead of "Java Runtime Environment"
// (Oracle's installers; Red Hat's OpenJDK MSI documents the same layout: CurrentVersion in
// the key, JavaHome and RuntimeLib in the version's sub-key; Corretto's MSI writes them too).
const char* const JAVASOFT_MODERN_KEYS[] = {"SOFTWARE\\JavaSoft\\JDK", "SOFTWARE\\JavaSoft\\JRE"};

// Vendors' own keys, walked a few levels down; every key on the way may name a home or a
// library through one of the values below. Sources (public installer documentation):
//  - Eclipse Adoptium (Temurin MSI): SOFTWARE\Eclipse Adoptium\{JDK|JRE}\<version>\hotspot\MSI,
//    value "Path"; older builds used SOFTWARE\Eclipse Foundation\... and
//    SOFTWARE\AdoptOpenJDK\{JDK|JRE}\<version>\MSI "Path" (adoptium/installer CONFIGURATION.md
//    and wix/README.md; adoptium/temurin-build issue 459).
//  - Microsoft Build of OpenJDK (built with the same WiX installer):
//    SOFTWARE\Microsoft\JDK\<version>\hotspot\MSI, value "Path".
//  - IBM Semeru (the same installer, OpenJ9): SOFTWARE\Semeru\{JDK|JRE}\<version>\openj9\MSI "Path".
//  - Azul Zulu: SOFTWARE\Azul Systems\Zulu\zulu-<major>, value "InstallationPath"; 32-bit
//    builds on 64-bit Windows under "Zulu 32-bit".
//  - BellSoft Liberica: SOFTWARE\BellSoft\Liberica\<product>, value "InstallationPath".
//  - Amazon Corretto: SOFTWARE\Amazon\Amazon Corretto\<version>\MSI (temurin-build issue 459);
//    its MSI also writes the JavaSoft keys (corretto/corretto-8 issues 14 and 40,
//    corretto/corretto-11 issue 301), which method j reads.
const char* const VENDOR_ROOTS[] = {
    "SOFTWARE\\Eclipse Adoptium", "SOFTWARE\\Eclipse Foundation", "SOFTWARE\\AdoptOpenJDK",
    "SOFTWARE\\Microsoft\\JDK",   "SOFTWARE\\Semeru",             "SOFTWARE\\Azul Systems\\Zulu",
    "SOFTWARE\\Azul Systems\\Zulu 32-bit", "SOFTWARE\\BellSoft\\Liberica", "SOFTWARE\\Amazon\\Amazon Corretto",
};
const char* const HOME_VALUES[] = {"Path", "InstallationPath", "JavaHome", "INSTALLDIR"};
constexpr const char* LIBRARY_VALUE = "RuntimeLib";
// Adoptium's layout is four levels deep (JDK\<version>\hotspot\MSI); the budget bounds the
// walk of a key that some other program filled.
constexpr int32_t VENDOR_KEY_DEPTH = 4;
constexpr int32_t VENDOR_KEY_BUDGET = 256;

const platform::RegistryHive HIVES[] = {platform::RegistryHive::LocalMachine, platform::RegistryHive::CurrentUser};
const char* hiveName(platform::RegistryHive hive) {
    return hive == platform::RegistryHive::CurrentUser ? "HKCU" : "HKLM";
}

bool namesAnyMethod(const AppString& order) {
    for (int32_t i = 0; i < order.length(); ++i) {
        if (containsByte(KNOWN_ORDER_LETTERS, order.charAt(i, '\0'))) return true;
    }
    return false;
}

// Cuts `path` at its last "\" or "/" when that stands after the first character.
void cutLastElement(AppString& path) {
    for (int32_t i = path.length() - 1; i >= 0; --i) {
        if (isPathSeparator(path.charAt(i, '\0'))) {
            if (i > 0) path.setLength(i);
            return;
        }
    }
}

void ensureTrailingSeparator(AppString& path) {
    if (!isPathSeparator(path.lastChar())) path.appendChar(platform::nativeSeparator());
}

// The version text a name suggests: from its first digit on ("zulu-17" is 17, "17.0.9.9" is
// 17.0.9.9, "jdk-21.0.2+13" is 21.0.2+13). Null when the name holds no digit.
const char* versionInName(const char* name) {
    for (const char* p = name; p && *p; ++p) {
        if (*p >= '0' && *p <= '9') return p;
    }
    return nullptr;
}

// One search: the minimum version, the report, and the checks every library passes.
class Search {
public:
    Search(JvmSearchReport* report, bool hasMinimum, JavaVersion minimum)
        : report_(report), hasMinimum_(hasMinimum), minimum_(minimum) {}

    bool hasMinimum() const { return hasMinimum_; }
    JavaVersion minimum() const { return minimum_; }

    // A readable library built for this program's architecture. Rejections are traced.
    bool accept(const AppString& library) {
        if (!isReadablePath(library.c_str())) {
            if (traceEnabled()) {
                trace("candidate %s: rejected, %s", library.c_str(),
                      platform::pathExists(library.c_str()) ? "unreadable" : "missing");
            }
            return false;
        }
        LibraryCheck check = checkLibraryArchitecture(library.c_str());
        if (check.fit == LibraryFit::WrongArchitecture) {
            trace("candidate %s: rejected, wrong architecture (%d-bit; this program is %d-bit)", library.c_str(),
                  check.bits, programBits());
            if (report_ && report_->wrongArchitecturePath.isEmpty()) {
                report_->wrongArchitecturePath = library;
                report_->wrongArchitectureBits = check.bits;
            }
            return false;
        }
        return true;
    }

    // The home search: every suffix, the library directly in it, then one level of
    // sub-directories in enumeration order.
    AppString searchHome(const AppString& home) {
        const char* libraryName = platform::jvmLibraryName();
        AppString base(home);
        ensureTrailingSeparator(base);
        for (int32_t s = 0; s < platform::javaHomeSuffixCount(); ++s) {
            AppString directory = base;
            directory.append(platform::javaHomeSuffix(s));

            AppString direct = directory;
            direct.append(libraryName);
            if (isReadablePath(direct.c_str())) {
                if (accept(direct)) return direct;
            }

            platform::DirectoryEnumeration entries;
            if (!entries.open(directory.c_str())) continue;
            AppString name;
            bool isDirectory = false;
            while (entries.next(name, isDirectory)) {
                if (!isDirectory || name == "." || name == "..") continue;
                AppString candidate = directory;
                candidate.append(name);
                candidate.appendChar(platform::nativeSeparator());
                candidate.append(libraryName);
                if (isReadablePath(candidate.c_str()) && accept(candidate)) return candidate;
            }
        }
        if (traceEnabled()) {
            AppString looked;
            for (int32_t s = 0; s < platform::javaHomeSuffixCount(); ++s) {
                if (s > 0) looked.append(", ");
                looked.append(base.c_str());
                looked.append(platform::javaHomeSuffix(s));
            }
            trace("home %s: no usable %s (looked in %s and one level below each)", home.c_str(), libraryName,
                  looked.c_str());
        }
        return AppString();
    }

    // A registered library, else the home it names or (for a stale library path) the home
    // two levels above it.
    AppString resolve(const AppString& home, const AppString& library) {
        if (!library.isEmpty()) {
            if (isReadablePath(library.c_str())) {
                if (accept(library)) return library;
            } else {
                trace("candidate %s: rejected, %s", library.c_str(),
                      platform::pathExists(library.c_str()) ? "unreadable" : "missing");
            }
        }
        if (!home.isEmpty()) return searchHome(home);
        if (library.isEmpty()) return AppString();
        AppString shortened(library);
        for (int32_t i = 0; i < RUNTIME_LIB_ELEMENTS_CUT; ++i) cutLastElement(shortened);
        return searchHome(shortened);
    }

    // Runtimes turned down only for their version, highest first within each method: when
    // nothing else is found the first usable one is taken after all, so that the check after
    // start-up names its version ("too low") instead of the user reading "not found".
    void noteTooOld(const AppString& home, const AppString& library) {
        tooOld_.add(home.c_str());
        tooOld_.add(library.c_str());
    }
    AppString resolveTooOld() {
        if (tooOld_.count() == 0) return AppString();
        trace("only runtimes below minjre found; taking the highest usable one");
        for (int32_t i = 0; i + 1 < tooOld_.count(); i += 2) {
            AppString found = resolve(AppString(tooOld_.entry(i)), AppString(tooOld_.entry(i + 1)));
            if (!found.isEmpty()) return found;
        }
        return AppString();
    }

private:
    JvmSearchReport* report_;
    bool hasMinimum_;
    JavaVersion minimum_;
    StringPool tooOld_;  // home, library, home, library ...
};

// The runtimes one method found, to be tried highest version first.
class Candidates {
public:
    // `home` or `library` may be empty. The version is the home's `release` file's, else the one
    // `versionName` suggests. Without a known version the candidate ranks below every known one
    // and is not held back by the minimum (the check after start-up still is).
    void add(const AppString& home, const AppString& library, const char* versionName) {
        Entry entry;
        entry.textIndex = texts_.count();
        AppString versionText = home.isEmpty() ? AppString() : readReleaseRuntimeVersion(home);
        if (versionText.isEmpty()) versionText = versionInName(versionName);
        entry.known = !versionText.isEmpty();
        if (entry.known) {
            // The minimum compares the first two numbers, as the check after start-up does; the
            // rank takes the whole version, so that 17.0.12 beats 17.0.2.
            entry.version = parseJavaVersion(versionText.c_str());
            entry.rank = parseRuntimeVersion(versionText.c_str());
        }
        if (!texts_.add(home.c_str()) || !texts_.add(library.c_str()) || !texts_.add(versionText.c_str())) return;
        entries_.appendElements(&entry, 1);
    }

    int32_t count() const { return entries_.length(); }

    AppString best(Search& search) {
        // Stable selection, highest first: ties keep the order in which they were found.
        GrowBuffer<Entry> order(entries_);
        for (int32_t i = 1; i < order.length(); ++i) {
            Entry moving = order.data()[i];
            int32_t j = i;
            while (j > 0 && ranksAbove(moving, order.data()[j - 1])) {
                order.data()[j] = order.data()[j - 1];
                --j;
            }
            order.data()[j] = moving;
        }
        for (int32_t i = 0; i < order.length(); ++i) {
            const Entry& entry = order.data()[i];
            AppString home(texts_.entry(entry.textIndex));
            AppString library(texts_.entry(entry.textIndex + 1));
            const char* versionText = texts_.entry(entry.textIndex + 2);
            const char* name = home.isEmpty() ? library.c_str() : home.c_str();
            if (entry.known && search.hasMinimum() && isJavaVersionBelow(entry.version, search.minimum())) {
                trace("candidate %s: rejected, too old (%d.%d, minjre %d.%d)", name, entry.version.major,
                      entry.version.minor, search.minimum().major, search.minimum().minor);
                search.noteTooOld(home, library);
                continue;
            }
            if (entry.known) trace("candidate %s: version %s", name, versionText);
            AppString found = search.resolve(home, library);
            if (!found.isEmpty()) return found;
        }
        return AppString();
    }

private:
    struct Entry {
        int32_t textIndex = 0;  // home at textIndex, library at + 1, version text at + 2
        JavaVersion version;
        RuntimeVersion rank;
        bool known = false;
    };

    static bool ranksAbove(const Entry& a, const Entry& b) {
        if (a.known != b.known) return a.known;
        return a.known && compareRuntimeVersions(a.rank, b.rank) > 0;
    }

    StringPool texts_;
    GrowBuffer<Entry> entries_;
};

// What a key names, leaving out the value it does not have.
void traceRegistryRuntime(platform::RegistryHive hive, const AppString& path, const AppString& library,
                          const AppString& home) {
    if (!traceEnabled()) return;
    AppString named;
    if (!library.isEmpty()) named.format("library %s", library.c_str());
    if (!library.isEmpty() && !home.isEmpty()) named.append(", ");
    if (!home.isEmpty()) named.append(("home " + home).c_str());
    trace("registry %s\\%s: %s", hiveName(hive), path.c_str(), named.c_str());
}

// One version sub-key of a JavaSoft key: its RuntimeLib and JavaHome.
void addJavaSoftVersion(platform::RegistryHive hive, const AppString& keyPath, const AppString& version,
                        Candidates& candidates) {
    char buffer[REGISTRY_VALUE_BUFFER];
    AppString path(keyPath);
    path.appendChar('\\');
    path.append(version);
    platform::RegistryKey key;
    if (!key.open(hive, path.c_str())) {
        trace("registry %s\\%s: missing", hiveName(hive), path.c_str());
        return;
    }
    AppString library;
    AppString home;
    if (key.readString(LIBRARY_VALUE, buffer, REGISTRY_VALUE_BUFFER)) library = buffer;
    if (key.readString("JavaHome", buffer, REGISTRY_VALUE_BUFFER)) home = buffer;
    if (library.isEmpty() && home.isEmpty()) {
        trace("registry %s\\%s: no RuntimeLib or JavaHome", hiveName(hive), path.c_str());
        return;
    }
    traceRegistryRuntime(hive, path, library, home);
    candidates.add(home, library, version.c_str());
}

// Walks a vendor's key: each key may name a home or a library; the version is the first
// key name on the way that holds a number.
void walkVendorKey(platform::RegistryHive hive, const AppString& path, const AppString& versionName, int32_t depth,
                   int32_t& budget, Candidates& candidates) {
    if (--budget < 0) return;
    platform::RegistryKey key;
    if (!key.open(hive, path.c_str())) {
        if (depth == 0) trace("registry %s\\%s: missing", hiveName(hive), path.c_str());
        return;
    }
    if (depth == 0) trace("registry %s\\%s: walking its sub-keys", hiveName(hive), path.c_str());
    char buffer[REGISTRY_VALUE_BUFFER];
    AppString library;
    if (key.readString(LIBRARY_VALUE, buffer, REGISTRY_VALUE_BUFFER)) library = buffer;
    AppString home;
    for (const char* value : HOME_VALUES) {
        if (key.readString(value, buffer, REGISTRY_VALUE_BUFFER) && buffer[0] != '\0') {
            home = buffer;
            break;
        }
    }
    if (!library.isEmpty() || !home.isEmpty()) {
        traceRegistryRuntime(hive, path, library, home);
        candidates.add(home, library, versionName.c_str());
    }
    if (depth >= VENDOR_KEY_DEPTH) return;
    AppString name;
    for (uint32_t i = 0; key.subkeyName(i, name); ++i) {
        AppString child(path);
        child.appendChar('\\');
        child.append(name);
        const AppString& childVersion = versionName.isEmpty() && versionInName(name.c_str()) ? name : versionName;
        walkVendorKey(hive, child, childVersion, depth + 1, budget, candidates);
        if (budget < 0) return;
    }
}

AppString findJvmFromConfigured(const ConfigStore& store, Search& search) {
    AppString value = expandEnvRefs(store.get(AppString("jvmdll")));
    if (value.isEmpty()) {
        trace("jvmdll: not set");
        return AppString();
    }
    AppString path = resolveBesideExecutable(value);
    if (!isReadablePath(path.c_str())) {
        trace("candidate %s: rejected, %s", path.c_str(), platform::pathExists(path.c_str()) ? "unreadable" : "missing");
        return AppString();
    }
    return search.accept(path) ? path : AppString();
}

AppString findJvmFromEnvironmentWith(Search& search) {
    static const char* const VARIABLES[] = {"JRE_HOME", "JAVA_HOME"};
    for (const char* name : VARIABLES) {
        AppString home;
        if (!platform::getEnv(name, home) || home.isEmpty()) {
            trace("%s: not set", name);
            continue;
        }
        trace("%s: %s", name, home.c_str());
        AppString found = search.searchHome(home);
        if (!found.isEmpty()) return found;
    }
    return AppString();
}

AppString findBundledWith(Search& search) {
    Candidates candidates;
    for (int32_t i = 0; i < platform::bundledRuntimeFolderCount(); ++i) {
        AppString home = executableDir();
        home.append(platform::bundledRuntimeFolder(i));
        if (!isReadablePath(home.c_str())) {
            trace("folder %s: missing", home.c_str());
            continue;
        }
        trace("folder %s: found", home.c_str());
        candidates.add(home, AppString(), nullptr);
    }
    return candidates.best(search);
}

AppString findJavaSoftModernWith(Search& search) {
    Candidates candidates;
    char buffer[REGISTRY_VALUE_BUFFER];
    for (platform::RegistryHive hive : HIVES) {
        for (const char* keyPath : JAVASOFT_MODERN_KEYS) {
            platform::RegistryKey key;
            if (!key.open(hive, keyPath)) {
                trace("registry %s\\%s: missing", hiveName(hive), keyPath);
                continue;
            }
            AppString current;
            if (key.readString("CurrentVersion", buffer, REGISTRY_VALUE_BUFFER)) current = buffer;
            // CurrentVersion first, so that among equal versions the one it names wins.
            if (!current.isEmpty()) addJavaSoftVersion(hive, AppString(keyPath), current, candidates);
            AppString name;
            for (uint32_t i = 0; key.subkeyName(i, name); ++i) {
                if (!(name == current)) addJavaSoftVersion(hive, AppString(keyPath), name, candidates);
            }
        }
    }
    return candidates.best(search);
}

// Every sub-directory of `root` (ending in a separator) as a candidate home.
void addRuntimeRoot(const AppString& root, Candidates& candidates) {
    platform::DirectoryEnumeration entries;
    if (!entries.open(root.c_str())) {
        trace("folder %s: missing", root.c_str());
        return;
    }
    trace("folder %s: each sub-folder is a candidate", root.c_str());
    AppString name;
    bool isDirectory = false;
    while (entries.next(name, isDirectory)) {
        if (!isDirectory || name == "." || name == "..") continue;
        AppString home(root);
        home.append(name);
        home.appendChar(platform::nativeSeparator());
        candidates.add(home, AppString(), name.c_str());
    }
}

AppString findVendorWith(Search& search) {
    Candidates candidates;
    for (platform::RegistryHive hive : HIVES) {
        for (const char* root : VENDOR_ROOTS) {
            int32_t budget = VENDOR_KEY_BUDGET;
            walkVendorKey(hive, AppString(root), AppString(), 0, budget, candidates);
        }
    }
    for (int32_t i = 0; i < platform::installedRuntimeRootCount(); ++i) {
        AppString root = platform::installedRuntimeRoot(i);
        if (!root.isEmpty()) addRuntimeRoot(root, candidates);
    }
    return candidates.best(search);
}

AppString findJvmFromRegistryKey(const char* key, Search& search) {
    if (!key) return AppString();
    // One buffer for both values: the registry fixes no length, the 260 bytes are ours, and a
    // longer value fails the read (the method then yields nothing).
    char buffer[REGISTRY_VALUE_BUFFER];

    platform::RegistryKey runtimeKey;
    if (!runtimeKey.openLocalMachine(key)) {
        trace("registry HKLM\\%s: missing", key);
        return AppString();
    }
    bool haveVersion = runtimeKey.readString("CurrentVersion", buffer, REGISTRY_VALUE_BUFFER);
    runtimeKey.close();
    if (!haveVersion) {
        trace("registry HKLM\\%s: no CurrentVersion", key);
        return AppString();
    }

    AppString versionKeyPath(key);
    versionKeyPath.appendChar('\\');
    versionKeyPath.append(buffer);
    platform::RegistryKey versionKey;
    if (!versionKey.openLocalMachine(versionKeyPath.c_str())) {
        trace("registry HKLM\\%s: missing", versionKeyPath.c_str());
        return AppString();
    }
    bool haveLibrary = versionKey.readString(LIBRARY_VALUE, buffer, REGISTRY_VALUE_BUFFER);
    versionKey.close();
    if (!haveLibrary) {
        trace("registry HKLM\\%s: no RuntimeLib", versionKeyPath.c_str());
        return AppString();
    }

    AppString library(buffer);
    trace("registry HKLM\\%s: RuntimeLib \"%s\"", versionKeyPath.c_str(), library.c_str());
    if (isReadablePath(library.c_str()) && search.accept(library)) return library;
    // A stale RuntimeLib (bin\client\jvm.dll after an update moved it): search the home that
    // two levels up gives, which finds a sibling directory such as bin\server.
    for (int32_t i = 0; i < RUNTIME_LIB_ELEMENTS_CUT; ++i) cutLastElement(library);
    return search.searchHome(library);
}

// Method s: the JavaSoft key; where the platform has no registry, the runtime the system
// itself names stands in for it.
AppString findJvmFromJavaSoft(Search& search) {
    AppString found = findJvmFromRegistryKey(JAVASOFT_KEY, search);
    if (!found.isEmpty()) return found;
    AppString home = platform::systemJavaHome();
    if (home.isEmpty()) {
        trace("system runtime: none");
        return AppString();
    }
    trace("system runtime: %s", home.c_str());
    return search.searchHome(home);
}

AppString runMethod(char letter, const ConfigStore& store, Search& search) {
    switch (letter) {
        case 'c': return findJvmFromConfigured(store, search);
        case 'b': return findBundledWith(search);
        case 'j': return findJavaSoftModernWith(search);
        case 'v': return findVendorWith(search);
        case 's': return findJvmFromJavaSoft(search);
        case 'i': return findJvmFromRegistryKey(IBM_KEY, search);
        case 'e': return findJvmFromEnvironmentWith(search);
        default: return AppString();
    }
}

const char* methodName(char letter) {
    switch (letter) {
        case 'c': return "configured path (jvmdll)";
        case 'b': return "bundled runtime";
        case 'j': return "JavaSoft JDK/JRE keys";
        case 'v': return "vendor installations";
        case 's': return "JavaSoft Java Runtime Environment key";
        case 'i': return "IBM key";
        case 'e': return "JRE_HOME / JAVA_HOME";
        default: return nullptr;
    }
}

}  // namespace

AppString findJvmLibrary(const ConfigStore& store, JvmSearchReport* report) {
    AppString order = store.get(AppString("jre_order"));
    for (int32_t i = 0; i < order.length(); ++i) order.data()[i] = asciiLower(order.data()[i]);
    bool useDefault = !namesAnyMethod(order);
    if (useDefault) order = DEFAULT_JRE_ORDER;

    AppString minJre = store.get(AppString("minjre"));
    JavaVersion minimum = parseJavaVersion(minJre.c_str());
    Search search(report, !minJre.isEmpty(), minimum);
    trace("search order: %s%s", order.c_str(), useDefault ? " (default)" : "");
    if (!minJre.isEmpty()) trace("minjre: %s (%d.%d)", minJre.c_str(), minimum.major, minimum.minor);

    for (int32_t i = 0; i < order.length(); ++i) {
        char letter = order.charAt(i, '\0');
        const char* name = methodName(letter);
        if (!name) continue;
        trace("method %c: %s", letter, name);
        AppString found = runMethod(letter, store, search);
        if (!found.isEmpty()) {
            trace("chose %s", found.c_str());
            return found;
        }
    }
    AppString tooOld = search.resolveTooOld();
    if (!tooOld.isEmpty()) {
        trace("chose %s", tooOld.c_str());
        return tooOld;
    }
    trace("no runtime found");
    return AppString();
}

AppString findJvmFromConfig(const ConfigStore& store) {
    Search search(nullptr, false, JavaVersion());
    return findJvmFromConfigured(store, search);
}

AppString findJvmFromEnvironment() {
    Search search(nullptr, false, JavaVersion());
    return findJvmFromEnvironmentWith(search);
}

AppString findJvmFromRegistry(const char* key) {
    Search search(nullptr, false, JavaVersion());
    return findJvmFromRegistryKey(key, search);
}

AppString findJvmInHome(const AppString& home) {
    Search search(nullptr, false, JavaVersion());
    return search.searchHome(home);
}

AppString findBundledJvm(bool hasMinimum, JavaVersion minimum) {
    Search search(nullptr, hasMinimum, minimum);
    return findBundledWith(search);
}

AppString findJvmInRuntimeRoot(const AppString& root, bool hasMinimum, JavaVersion minimum) {
    Search search(nullptr, hasMinimum, minimum);
    Candidates candidates;
    AppString base(root);
    ensureTrailingSeparator(base);
    addRuntimeRoot(base, candidates);
    return candidates.best(search);
}

}  // namespace kvx
