#include "jre/ClassDataSharing.h"

#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "base/TextView.h"
#include "base/Trace.h"
#include "config/ConfigStore.h"
#include "jre/JavaVersion.h"
#include "jre/JvmHost.h"
#include "platform/CacheFiles.h"
#include "platform/FileSystem.h"

namespace kvx {

namespace {

// Archives are small (some MB, a static one some tens), but a runtime that fills the disk
// while writing one ends the process with an error: write only with plenty of room.
constexpr uint64_t MIN_FREE_BYTES = 1ULL << 30;
// A static archive is dumped after the application ended; a runtime that hangs doing so
// must not keep the process forever.
constexpr uint32_t ASSEMBLY_TIMEOUT_MS = 10 * 60 * 1000;
constexpr int32_t HOME_LEVELS = 4;
constexpr const char* WRITING_SUFFIX = ".tmp";
constexpr const char* CLASS_LIST_SUFFIX = ".classlist.tmp";
// The runtime's own archive of its classes, beside its library: the dynamic archives are
// layered on it, and without it the runtimes warn or even refuse to start.
constexpr const char* BASE_ARCHIVE = "classes.jsa";

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Silences the runtime's own reports about archives; JDK 25 moved some of them to the "aot"
// tag, which older runtimes refuse to start with.
void addLogsOff(int32_t release, StringPool& out) {
    if (release >= 25) out.add("-Xlog:aot*=off");
    out.add("-Xlog:cds*=off");
}

AppString hex16(uint64_t value) {
    AppString text;
    text.format("%016llx", static_cast<unsigned long long>(value));
    return text;
}

const char* mechanismName(CdsMechanism mechanism) {
    switch (mechanism) {
        case CdsMechanism::NONE: break;
        case CdsMechanism::DYNAMIC_ARCHIVE: return "dynamic archive";
        case CdsMechanism::AUTO_ARCHIVE: return "self-maintaining archive";
        case CdsMechanism::STATIC_ARCHIVE: return "static archive from a class list";
    }
    return "none";
}

const char* archiveExtension(CdsMechanism mechanism) {
    // A static archive keeps a name of its own: the self-maintaining archive must never be
    // pointed at one, should the runtime's own archive appear later.
    return mechanism == CdsMechanism::STATIC_ARCHIVE ? ".static.jsa" : ".jsa";
}

// What one start armed for the end of the process.
struct Pending {
    bool armed = false;
    bool exitHandlerSet = false;
    CdsPlan plan;
    CdsIdentity id;
    StringPool assembly;  // the command that dumps the static archive
};

Pending& pending() {
    static Pending state;
    return state;
}

void finishAtExit() { finishClassDataSharing(); }

// Every other file of this executable goes once a new archive is in place: older
// identities, and unfinished files of starts that were killed. A file another process
// still has open stays where the platform refuses; the next new archive retries.
void removeOlderFiles(const AppString& folder, const AppString& executablePrefix, const AppString& keep) {
    StringPool doomed;
    platform::DirectoryEnumeration entries;
    if (!entries.open(folder.c_str())) return;
    AppString name;
    bool isDirectory = false;
    while (entries.next(name, isDirectory)) {
        if (!isDirectory && startsWith(name.c_str(), executablePrefix.c_str()) && !(name == keep)) {
            doomed.add((folder + name).c_str());
        }
    }
    entries.close();
    for (int32_t i = 0; i < doomed.count(); ++i) platform::removeFile(doomed.entry(i));
}

bool hasBaseArchive(const AppString& jvmLibrary) {
    int32_t end = jvmLibrary.length();
    while (end > 0 && !isPathSeparator(jvmLibrary.charAt(end - 1, '\0'))) --end;
    return platform::isReadable((jvmLibrary.left(end) + BASE_ARCHIVE).c_str());
}

// The class path the runtime gets (the last definition counts), or null.
const char* classPathOf(const StringPool& options) {
    const char* classPath = nullptr;
    for (int32_t i = 0; i < options.count(); ++i) {
        if (startsWith(options.entry(i), "-Djava.class.path=")) classPath = options.entry(i) + 18;
    }
    return classPath;
}

// Calls visit(entry) for each non-empty class path entry until it returns true; true then.
template <typename Visit>
bool anyClassPathEntry(const char* classPath, Visit visit) {
    if (!classPath) return false;
    const char separator = platform::classPathSeparator();
    for (const char* start = classPath;;) {
        const char* end = std::strchr(start, separator);
        AppString entry(start, end ? static_cast<int32_t>(end - start) : -1);
        if (!entry.isEmpty() && visit(entry)) return true;
        if (!end) return false;
        start = end + 1;
    }
}

// The runtimes fail at exit, with exit code 1, when asked to archive classes while a folder
// holding files is on the class path: any folder on it rules sharing out.
bool classPathHasFolder(const StringPool& options) {
    return anyClassPathEntry(classPathOf(options), [](AppString entry) {
        if (!isPathSeparator(entry.lastChar())) entry.appendChar(platform::nativeSeparator());
        platform::DirectoryEnumeration probe;
        return probe.open(entry.c_str());
    });
}

// Each class path entry with its size and time, as the runtimes check them before they map
// an archive: a jar that changed (an update, another `libs` file) means a new identity, so
// a new archive is written instead of one the runtime would refuse on every start.
AppString classPathStamps(const StringPool& options) {
    AppString text;
    anyClassPathEntry(classPathOf(options), [&text](const AppString& entry) {
        platform::FileStamp stamp;
        const bool found = platform::fileStamp(entry.c_str(), stamp);
        AppString line;
        line.format("\n%s %llu %lld", entry.c_str(), static_cast<unsigned long long>(found ? stamp.size : 0),
                    static_cast<long long>(found ? stamp.modified : 0));
        text.append(line.c_str());
        return false;
    });
    return text;
}

AppString identityText(const CdsIdentity& id) {
    AppString text;
    text.format("%s\n%llu\n%lld\n%s\n%llu\n%lld\n%s", id.executable.c_str(),
                static_cast<unsigned long long>(id.executableSize), static_cast<long long>(id.executableTime),
                id.runtime.c_str(), static_cast<unsigned long long>(id.runtimeSize),
                static_cast<long long>(id.runtimeTime), id.version.c_str());
    text.append(id.classPath.c_str());
    return text;
}

}  // namespace

int32_t javaFeatureRelease(const char* versionText) {
    JavaVersion version = parseJavaVersion(versionText);
    int32_t feature = version.major == 1 ? version.minor : version.major;
    return feature > 0 ? feature : 0;
}

CdsMechanism cdsMechanismFor(int32_t featureRelease) {
    if (featureRelease >= 19) return CdsMechanism::AUTO_ARCHIVE;
    if (featureRelease >= 13) return CdsMechanism::DYNAMIC_ARCHIVE;
    return CdsMechanism::NONE;
}

CdsMechanism cdsMechanismFor(int32_t featureRelease, bool hasBaseArchive, bool hasJavaLauncher) {
    // JDK 25's AOT cache is not used: recording its configuration costs the first start some
    // 12% before main, listing the classes for a static archive some 4%. Nor its dynamic
    // archive where a static one can be dumped: given a damaged file, it warns on the
    // application's output that the base archive is not loaded.
    CdsMechanism mechanism = cdsMechanismFor(featureRelease);
    if (featureRelease >= 25 && hasJavaLauncher) return CdsMechanism::STATIC_ARCHIVE;
    if (mechanism == CdsMechanism::NONE || hasBaseArchive) return mechanism;
    // The dynamic archives need the runtime's own beneath them (without it the runtime warns
    // or refuses to start); a static archive stands alone, and the runtime's launcher dumps it.
    return hasJavaLauncher ? CdsMechanism::STATIC_ARCHIVE : CdsMechanism::NONE;
}

AppString javaHomeOfLibrary(const AppString& libraryPath) {
    AppString dir = libraryPath;
    for (int32_t level = 0; level < HOME_LEVELS; ++level) {
        // Strip one trailing component (and the separators after it).
        int32_t end = dir.length();
        while (end > 0 && isPathSeparator(dir.charAt(end - 1, '\0'))) --end;
        while (end > 0 && !isPathSeparator(dir.charAt(end - 1, '\0'))) --end;
        if (end == 0) return AppString();
        dir = dir.left(end);
        if (platform::isReadable((dir + "release").c_str())) return dir;
    }
    return AppString();
}

bool isSharingOption(const char* option) {
    if (!option) return false;
    if (startsWith(option, "-Xshare")) return true;
    if (startsWith(option, "-Xlog")) {
        // Only the selection counts ("-Xlog:SELECTION:output:..."), not a file name; a bare
        // -Xlog or an "all" selection includes sharing's reports too.
        const char* selection = option + 5;
        if (*selection == ':') ++selection;
        const char* end = std::strchr(selection, ':');
        AppString what(selection, end ? static_cast<int32_t>(end - selection) : -1);
        return what.isEmpty() || std::strstr(what.c_str(), "cds") || std::strstr(what.c_str(), "aot") ||
               std::strstr(what.c_str(), "all");
    }
    if (!startsWith(option, "-XX:")) return false;
    for (const char* word : {"Shared", "ArchiveClasses", "AOT", "DumpLoadedClassList"}) {
        if (std::strstr(option, word)) return true;
    }
    return false;
}

AppString cdsExecutablePrefix(const CdsIdentity& id) { return hex16(fnv1a(id.executable)) + "-"; }

AppString cdsIdentityPrefix(const CdsIdentity& id) {
    return cdsExecutablePrefix(id) + hex16(fnv1a(identityText(id))) + "-";
}

AppString cdsArchiveName(const CdsIdentity& id, CdsMechanism mechanism, uint64_t size) {
    AppString sizeText;
    sizeText.format("%llu", static_cast<unsigned long long>(size));
    return cdsIdentityPrefix(id) + sizeText + archiveExtension(mechanism);
}

bool isCdsArchiveName(const AppString& name, const CdsIdentity& id, CdsMechanism mechanism, uint64_t size) {
    return size > 0 && name == cdsArchiveName(id, mechanism, size);
}

void cdsOptions(const CdsPlan& plan, StringPool& out) {
    const bool writes = plan.archive.isEmpty();
    switch (plan.mechanism) {
        case CdsMechanism::NONE: return;
        case CdsMechanism::DYNAMIC_ARCHIVE:
        case CdsMechanism::AUTO_ARCHIVE:
            // Sharing stays optional, and the runtime's own reports about the archive
            // (rejected, rewritten) never reach the application's output.
            out.add("-Xshare:auto");
            addLogsOff(plan.release, out);
            if (plan.mechanism == CdsMechanism::AUTO_ARCHIVE) {
                out.add("-XX:+AutoCreateSharedArchive");
                out.add(("-XX:SharedArchiveFile=" + (writes ? plan.writing : plan.archive)).c_str());
            } else if (writes) {
                out.add(("-XX:ArchiveClassesAtExit=" + plan.writing).c_str());
            } else {
                out.add(("-XX:SharedArchiveFile=" + plan.archive).c_str());
            }
            // A damaged archive is refused by its checksums instead of crashing the runtime.
            if (!writes) out.add("-XX:+VerifySharedSpaces");
            return;
        case CdsMechanism::STATIC_ARCHIVE:
            out.add("-Xshare:auto");
            addLogsOff(plan.release, out);
            if (writes) {
                // The start itself only lists the classes it loads; the archive is dumped
                // from the list after the process ended.
                out.add(("-XX:DumpLoadedClassList=" + plan.recording).c_str());
            } else {
                out.add(("-XX:SharedArchiveFile=" + plan.archive).c_str());
                out.add("-XX:+VerifySharedSpaces");
            }
            return;
    }
}

void addClassDataSharingOptions(const ConfigStore& store, const AppString& executable, const AppString& jvmLibrary,
                                JvmHost& host) {
    if (store.get(AppString("cds")) != "auto") return;
    const StringPool& configured = host.options();
    for (int32_t i = 0; i < configured.count(); ++i) {
        if (isSharingOption(configured.entry(i))) {
            trace("cds: the configured option %s keeps charge of sharing; nothing added", configured.entry(i));
            return;
        }
    }

    if (classPathHasFolder(configured)) {
        trace("cds: a folder is on the class path; nothing added");
        return;
    }

    CdsPlan plan;
    CdsIdentity id;
    AppString home = javaHomeOfLibrary(jvmLibrary);
    if (home.isEmpty()) {
        trace("cds: no Java home with a release file above %s; nothing added", jvmLibrary.c_str());
        return;
    }
    id.version = readReleaseVersion(home);
    const int32_t feature = javaFeatureRelease(id.version.c_str());
    AppString javaLauncher = home + "bin";
    javaLauncher.appendChar(platform::nativeSeparator());
    javaLauncher.append(platform::javaLauncherName());
    const bool launcherPresent = platform::isReadable(javaLauncher.c_str());
    const bool basePresent = hasBaseArchive(jvmLibrary);
    plan.mechanism = cdsMechanismFor(feature, basePresent, launcherPresent);
    plan.release = feature;
    if (!basePresent) trace("cds: no %s beside %s", BASE_ARCHIVE, jvmLibrary.c_str());
    if (!launcherPresent) trace("cds: no %s", javaLauncher.c_str());
    trace("cds: runtime %s version \"%s\": %s", home.c_str(), id.version.c_str(), mechanismName(plan.mechanism));
    if (plan.mechanism == CdsMechanism::NONE) return;

    platform::FileStamp stamp;
    id.executable = executable;
    if (!platform::fileStamp(id.executable.c_str(), stamp)) return;
    id.executableSize = stamp.size;
    id.executableTime = stamp.modified;
    id.runtime = jvmLibrary;
    if (!platform::fileStamp(id.runtime.c_str(), stamp)) return;
    id.runtimeSize = stamp.size;
    id.runtimeTime = stamp.modified;
    id.classPath = classPathStamps(configured);

    const char separator = platform::nativeSeparator();
    plan.folder = platform::userCacheDirectory();
    if (plan.folder.isEmpty()) return;
    if (!isPathSeparator(plan.folder.lastChar())) plan.folder.appendChar(separator);
    plan.folder.append("kvx");
    const AppString ownFolder = plan.folder;
    plan.folder.appendChar(separator);
    plan.folder.append("cds");
    if (!platform::createDirectories(plan.folder.c_str())) {
        trace("cds: cache folder %s cannot be made; nothing added", plan.folder.c_str());
        return;
    }
    // Whoever else may write here could put an archive of their own in the runtime's way.
    const AppString* const folders[] = {&ownFolder, &plan.folder};
    for (const AppString* folder : folders) {
        if (!platform::isPrivateDirectory(folder->c_str())) {
            trace("cds: cache folder %s is not this user's alone (owner, link or write permission); nothing added",
                  folder->c_str());
            return;
        }
    }
    plan.folder.appendChar(separator);

    const AppString identityPrefix = cdsIdentityPrefix(id);
    platform::DirectoryEnumeration entries;
    if (entries.open(plan.folder.c_str())) {
        AppString name;
        bool isDirectory = false;
        while (plan.archive.isEmpty() && entries.next(name, isDirectory)) {
            if (isDirectory || !startsWith(name.c_str(), identityPrefix.c_str())) continue;
            if (platform::fileStamp((plan.folder + name).c_str(), stamp) &&
                isCdsArchiveName(name, id, plan.mechanism, stamp.size)) {
                plan.archive = plan.folder + name;
            }
        }
        entries.close();
    }

    if (plan.archive.isEmpty()) {
        if (platform::freeDiskBytes(plan.folder.c_str()) < MIN_FREE_BYTES) {
            trace("cds: less than 1 GiB free in %s; nothing added", plan.folder.c_str());
            return;
        }
        // Each start writes under a name of its own and renames the result when the process
        // ends, so two first starts never write into one file and no start maps a half-written
        // one. Creating the file first proves the folder writable: a runtime that cannot
        // write its archive at exit turns the application's exit code into an error. It goes
        // again at once, since an empty file where the archive should be makes the runtime of
        // 19 to 24 warn on the application's output.
        AppString base;
        base.format("%s%s%u", plan.folder.c_str(), identityPrefix.c_str(), platform::currentProcessId());
        plan.writing = base + archiveExtension(plan.mechanism) + WRITING_SUFFIX;
        if (!platform::createNewFile(plan.writing.c_str())) {
            trace("cds: %s cannot be written; nothing added", plan.writing.c_str());
            return;
        }
        platform::removeFile(plan.writing.c_str());
        if (plan.mechanism == CdsMechanism::STATIC_ARCHIVE) plan.recording = base + CLASS_LIST_SUFFIX;
    }

    StringPool added;
    cdsOptions(plan, added);
    trace("cds: %s %s", plan.writing.isEmpty() ? "using" : "writing",
          (plan.writing.isEmpty() ? plan.archive : plan.writing).c_str());
    for (int32_t i = 0; i < added.count(); ++i) trace("cds: adds option %s", added.entry(i));
    if (plan.writing.isEmpty()) {
        for (int32_t i = 0; i < added.count(); ++i) host.addOption(added.entry(i));
        return;
    }

    Pending& state = pending();
    state.plan = plan;
    state.id = id;
    state.assembly.clear();
    if (plan.mechanism == CdsMechanism::STATIC_ARCHIVE) {
        // The static archive is dumped by the JDK's own launcher from the list this start
        // wrote, with the same options (class path included): the runtime checks them when it
        // maps the result.
        state.assembly.add(javaLauncher.c_str());
        // Logging options stay out: the dump is not the application, and must not overwrite
        // its log files.
        for (int32_t i = 0; i < configured.count(); ++i) {
            const char* option = configured.entry(i);
            if (!startsWith(option, "-Xlog") && !startsWith(option, "-verbose")) state.assembly.add(option);
        }
        state.assembly.add("-Xshare:dump");
        addLogsOff(plan.release, state.assembly);
        state.assembly.add(("-XX:SharedClassListFile=" + plan.recording).c_str());
        state.assembly.add(("-XX:SharedArchiveFile=" + plan.writing).c_str());
    }
    for (int32_t i = 0; i < added.count(); ++i) host.addOption(added.entry(i));
    state.armed = true;
    // The runtime writes at its end, which may be a System.exit inside Java: the process's
    // exit handlers run after it either way.
    if (!state.exitHandlerSet) state.exitHandlerSet = std::atexit(finishAtExit) == 0;
    if (!state.exitHandlerSet) finishClassDataSharing();
}

void finishClassDataSharing() {
    Pending& state = pending();
    if (!state.armed) return;
    state.armed = false;
    const CdsPlan& plan = state.plan;

    platform::FileStamp stamp;
    if (!plan.recording.isEmpty()) {
        const bool recorded = platform::fileStamp(plan.recording.c_str(), stamp) && stamp.size > 0;
        // A failed dump leaves no archive, or a partial one that must not become the archive.
        const bool dumped = recorded && platform::runQuietly(state.assembly, ASSEMBLY_TIMEOUT_MS);
        platform::removeFile(plan.recording.c_str());
        if (!dumped) {
            platform::removeFile(plan.writing.c_str());
            return;
        }
    }
    if (!platform::fileStamp(plan.writing.c_str(), stamp) || stamp.size == 0) {
        platform::removeFile(plan.writing.c_str());
        return;
    }
    const AppString name = cdsArchiveName(state.id, plan.mechanism, stamp.size);
    if (!platform::renameReplacing(plan.writing.c_str(), (plan.folder + name).c_str())) {
        platform::removeFile(plan.writing.c_str());
        return;
    }
    removeOlderFiles(plan.folder, cdsExecutablePrefix(state.id), name);
}

}  // namespace kvx
