#pragma once
// Class-data sharing on the configuration's request (`cds auto`): the runtime keeps the
// classes it loaded in a per-user archive and maps them on the next start. Each runtime
// gets the best mechanism its version has; every failure leaves the launch as it would be
// without the feature.

#include <cstdint>

#include "base/AppString.h"
#include "base/StringPool.h"

namespace kvx {

class ConfigStore;
class JvmHost;

enum class CdsMechanism {
    NONE,            // before JDK 13
    DYNAMIC_ARCHIVE, // JDK 13-18: written by one start, used by the next
    AUTO_ARCHIVE,    // JDK 19+: the runtime keeps the archive itself
    STATIC_ARCHIVE,  // JDK 13+ made without their own archive (jlink), and JDK 25+: a static
                     // archive of the classes one start listed, dumped after it by the
                     // runtime's java
};

// The feature release of a version text: "1.8.0_292" is 8, "17.0.9" is 17, "25" is 25;
// 0 when the text holds no number.
int32_t javaFeatureRelease(const char* versionText);
CdsMechanism cdsMechanismFor(int32_t featureRelease);
// The mechanism a runtime of `featureRelease` gets given what its home holds: the runtime's
// own archive beside its library (which the dynamic archives are layered on) and the JDK's
// launcher in bin (which dumps a static archive after the start).
CdsMechanism cdsMechanismFor(int32_t featureRelease, bool hasBaseArchive, bool hasJavaLauncher);

// The Java home of the runtime library at `libraryPath`: the nearest of its parent folders,
// up to four levels up, that holds a `release` file (ending in a separator); empty if none.
AppString javaHomeOfLibrary(const AppString& libraryPath);

// True for an option with which the configuration already sets up sharing, an archive or
// their logging: the configuration then keeps charge and nothing is added.
bool isSharingOption(const char* option);

// What identifies an archive: the executable and the runtime, each with size and time, and
// the class path.
struct CdsIdentity {
    AppString executable;
    uint64_t executableSize = 0;
    int64_t executableTime = 0;
    AppString runtime;  // the runtime library
    uint64_t runtimeSize = 0;
    int64_t runtimeTime = 0;
    AppString version;  // the release file's JAVA_VERSION
    AppString classPath;  // a line for each class path entry: path, size and time (0 0 if absent)
};

// File names inside the cache folder. Every file of one executable starts with the same
// 16 hex digits (so a new archive can find its predecessors); the next 16 digits stand for
// the whole identity, and a finished archive's name ends with its size, so a truncated file
// is never handed to the runtime.
AppString cdsExecutablePrefix(const CdsIdentity& id);  // "<exe>-"
AppString cdsIdentityPrefix(const CdsIdentity& id);    // "<exe>-<identity>-"
// The finished archive of `size` bytes: "<exe>-<identity>-<size>.jsa" (".static.jsa" for a
// static archive).
AppString cdsArchiveName(const CdsIdentity& id, CdsMechanism mechanism, uint64_t size);
// True when `name` is that identity's finished archive and says `size` bytes.
bool isCdsArchiveName(const AppString& name, const CdsIdentity& id, CdsMechanism mechanism, uint64_t size);

// What to add for one start.
struct CdsPlan {
    CdsMechanism mechanism = CdsMechanism::NONE;
    int32_t release = 0;  // the runtime's feature release: 25 and later report under "aot" too
    AppString folder;    // the cache folder, ending in a separator
    AppString archive;   // the finished archive to use; empty when this start writes one
    AppString writing;   // the file this start's runtime writes; empty when it uses one
    AppString recording; // the class list a static archive is dumped from after this start
};

// The options of `plan`, in the order they go to the runtime.
void cdsOptions(const CdsPlan& plan, StringPool& out);

// Adds the options of `cds auto` to `host` for the executable at `executable` and the runtime
// library `jvmLibrary`, after the configured ones, and arranges for a written archive to be finished when the process ends.
// Does nothing when the key is absent or "off", or when anything needed is missing.
void addClassDataSharingOptions(const ConfigStore& store, const AppString& executable, const AppString& jvmLibrary,
                                JvmHost& host);

// Finishes what this start's runtime wrote (dumps the static archive, gives the archive its
// final name, removes the executable's older files). Runs
// once; called at process exit.
void finishClassDataSharing();

}  // namespace kvx
