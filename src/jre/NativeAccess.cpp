#include "jre/NativeAccess.h"

#include <cstring>

#include "base/Trace.h"
#include "jre/ClassDataSharing.h"
#include "jre/JavaVersion.h"
#include "jre/JvmHost.h"

namespace kvx {

namespace {

// Either option decides native access: which modules have it, and what the runtime does
// with a call from one that lacks it.
constexpr const char* NATIVE_ACCESS_PREFIXES[] = {"--enable-native-access", "--illegal-native-access"};
// JDK 17 brought the option, but only 24 restricts System.load; the option also turns off
// the runtime's archived module graph (about 14 ms of CPU time per start, measured on 17 and
// 25), so runtimes that do not need it go without. A runtime without a release file is not
// guessed at.
constexpr int32_t FIRST_RESTRICTING_RELEASE = 24;

}  // namespace

bool wantsNativeAccessOption(int32_t featureRelease) { return featureRelease >= FIRST_RESTRICTING_RELEASE; }

bool isNativeAccessOption(const char* option) {
    if (!option) return false;
    for (const char* prefix : NATIVE_ACCESS_PREFIXES) {
        const size_t length = std::strlen(prefix);
        if (std::strncmp(option, prefix, length) == 0 && (option[length] == '\0' || option[length] == '=')) {
            return true;
        }
    }
    return false;
}

void addNativeAccessOption(const AppString& jvmLibrary, JvmHost& host) {
    // No runtime was found: there is nothing to decide, and the launch ends before any load.
    if (jvmLibrary.isEmpty()) return;
    const StringPool& configured = host.options();
    for (int32_t i = 0; i < configured.count(); ++i) {
        if (isNativeAccessOption(configured.entry(i))) {
            trace("native access: the configured option %s keeps charge; nothing added", configured.entry(i));
            return;
        }
    }
    const AppString home = javaHomeOfLibrary(jvmLibrary);
    const AppString version = home.isEmpty() ? AppString() : readReleaseVersion(home);
    if (!wantsNativeAccessOption(javaFeatureRelease(version.c_str()))) {
        trace("native access: runtime version \"%s\" does not restrict System.load; nothing added", version.c_str());
        return;
    }
    trace("native access: runtime version \"%s\": adds option %s", version.c_str(), NATIVE_ACCESS_OPTION);
    host.addOption(NATIVE_ACCESS_OPTION);
}

}  // namespace kvx
