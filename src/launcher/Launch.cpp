#include "launcher/Launch.h"

#include "base/GrowBuffer.h"
#include "base/StringPool.h"
#include "base/Trace.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "config/ValueChecks.h"
#include "jre/ClassDataSharing.h"
#include "jre/ClassPath.h"
#include "jre/JavaVersion.h"
#include "jre/JvmDiscovery.h"
#include "jre/JvmHost.h"
#include "jre/KeptJars.h"
#include "jre/LibraryArchitecture.h"
#include "jre/NativeAccess.h"
#include "launcher/Messages.h"
#include "launcher/Services.h"
#include "launcher/SingleInstance.h"
#include "platform/ServiceControl.h"

namespace kvx {

namespace {

// Adds every value of a multi-valued key, environment-expanded, as one option each;
// `prefix` goes before each value.
void addOptionsOfKey(const ConfigStore& store, StringPool& pool, JvmHost& host, const char* key,
                     const char* prefix) {
    store.find(AppString(key), addExpandedValue, &pool);
    for (int32_t i = 0; i < pool.count(); ++i) {
        AppString option(prefix);
        option.append(pool.entry(i));
        host.addOption(option.c_str());
    }
    pool.clear();
}

// Java may end the process itself (System.exit): the runtime then exits from its own thread
// through its own C library, which on Windows runs none of this executable's exit handlers and
// never returns to the entry point. What every start must finish happens here too.
void JNICALL finishAtVmExit(jint code) {
    trace("the runtime ends the process with %d", static_cast<int>(code));
    // The icons first, as the normal end removes them: finishing the archive may take long.
    removeTrayIconsAtVmExit();
    finishClassDataSharing();
    platform::serviceEndsWithProcess();
}

// The bytes an -Xss option asks for ("-Xss4m", "-Xss512k", "-Xss1048576"); 0 for anything else.
uint64_t stackOptionBytes(const char* option) {
    static const char PREFIX[] = "-Xss";
    for (int i = 0; PREFIX[i]; ++i) {
        if (option[i] != PREFIX[i]) return 0;
    }
    const char* p = option + sizeof PREFIX - 1;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (1ULL << 40)) return 0;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    int shift = 0;
    switch (*p | 0x20) {
        case 'k': shift = 10; break;
        case 'm': shift = 20; break;
        case 'g': shift = 30; break;
        default: break;
    }
    if (shift != 0) ++p;
    // More than 1 TiB asks for no stack this launcher can give (and would overflow the shift).
    return *p == '\0' && value <= ((1ULL << 40) >> shift) ? value << shift : 0;
}

// The last -Xss option found wins, as in the runtime.
void takeStackOption(void* bytes, const char* option) {
    const uint64_t asked = stackOptionBytes(option);
    if (asked != 0) *static_cast<uint64_t*>(bytes) = asked;
}

}  // namespace

uint64_t mainThreadStackBytes(const ConfigStore& store) {
    // The option as written: a size behind an environment reference is left to the system's default.
    uint64_t bytes = 0;
    store.find(AppString("option"), takeStackOption, &bytes);
    constexpr uint64_t LEAST = 1ULL << 20;
    return bytes == 0 ? 0 : (bytes < LEAST ? LEAST : bytes);
}

LaunchOutcome runLaunchSteps(ConfigStore& store, JvmHost& host, const WideStringList& args) {
    LaunchOutcome outcome;

    // Without an ANSI path nothing that names the application's files can be passed on: say
    // so instead of failing later as if no runtime existed.
    if (store.modulePathHasNoAnsiForm()) {
        outcome.code = LAUNCH_APP_PATH_NOT_ANSI;
        return outcome;
    }

    // 1. Working directory, before any option is built.
    AppString forceCwd = store.getForceCwd();
    if (!forceCwd.isEmpty()) setWorkingDir(forceCwd.c_str());

    // 2-6. Options in their fixed order.
    StringPool pool;
    addOptionsOfKey(store, pool, host, "option", "");
    addOptionsOfKey(store, pool, host, "property", "-D");
    AppString kept;
    outcome.code = prepareKeptJars(store, store.getModulePath(), kept, outcome.folder);
    if (outcome.code != LAUNCH_OK) return outcome;
    host.addOption(("-Djava.class.path=" + buildClassPath(store, kept)).c_str());
    host.addOption(("-Dkvx.app.path=" + store.getModulePath()).c_str());
    host.addOption(("-Dapplication.home=" + store.getAppHome()).c_str());

    // Options built from truncated text must never reach the runtime.
    if (memoryExhausted()) {
        outcome.code = LAUNCH_VM_INIT_FAILED;
        return outcome;
    }

    // 7. Runtime. When every runtime found was built for the other architecture, say so
    // instead of "not found". Native access and class-data sharing options follow the
    // configured ones (the cache's assembly repeats the former).
    JvmSearchReport report;
    AppString library = findJvmLibrary(store, &report);
    if (library.isEmpty() && !report.wrongArchitecturePath.isEmpty()) {
        outcome.code = LAUNCH_JRE_WRONG_ARCHITECTURE;
        outcome.runtimePath = report.wrongArchitecturePath;
        outcome.runtimeBits = report.wrongArchitectureBits;
        return outcome;
    }
    platform::reportServiceProgress();
    addNativeAccessOption(library, host);
    addClassDataSharingOptions(store, store.getModulePath(), library, host);
    host.setExitHook(finishAtVmExit);
    startRuntimeSplash(library.c_str());
    outcome.code = host.create(library.c_str());
    if (outcome.code != LAUNCH_OK) return outcome;
    platform::reportServiceProgress();

    // 8. Minimum version; a side file may override it.
    AppString minJre = store.get(AppString("minjre"));
    if (!minJre.isEmpty()) {
        AppString version;
        if (!host.queryVmVersion(version)) {
            outcome.code = LAUNCH_VERSION_UNKNOWN;
            return outcome;
        }
        JavaVersion required = parseJavaVersion(minJre.c_str());
        JavaVersion running = parseJavaVersion(version.c_str());
        trace("running version %s, minjre %s", version.c_str(), minJre.c_str());
        outcome.requiredMajor = required.major;
        outcome.requiredMinor = required.minor;
        outcome.runningMajor = running.major;
        outcome.runningMinor = running.minor;
        // A runtime that reports no version at all (null) is not held back by the minimum.
        if (!version.isEmpty() && isJavaVersionBelow(running, required)) {
            outcome.code = LAUNCH_VERSION_TOO_LOW;
            return outcome;
        }
    }

    // 9-10. The main class comes from the embedded block only.
    AppString mainClass = store.get(AppString("mainclass"), true);
    trace("main class %s", mainClass.c_str());
    registerJavaApiNatives(host.vm());
    outcome.code = host.runMain(mainClass.c_str(), args);
    outcome.mainThrew = outcome.code == LAUNCH_OK && host.mainThrew();

    // 11. Close the splash shortly after main returns, unless Java took charge of it.
    splashAfterMain();
    return outcome;
}

int exitCodeOf(const LaunchOutcome& outcome) {
    if (outcome.code != LAUNCH_OK) return outcome.code;
    return outcome.mainThrew ? 1 : 0;
}

int launch(const WideStringList& args) {
    ConfigStore* store = currentConfigStore();
    JvmHost* host = currentJvmHost();
    if (!store || !host) return LAUNCH_VM_INIT_FAILED;
    LaunchOutcome outcome = runLaunchSteps(*store, *host, args);
    int exitCode = exitCodeOf(outcome);
    trace("outcome %d%s, exit code %d", outcome.code, outcome.mainThrew ? " (exception out of main)" : "", exitCode);
    if (outcome.code == LAUNCH_OK) return exitCode;
    // A failed launch lets its name go before the message: later starts then run (and say
    // what failed) instead of handing their arguments to a copy that will never read them.
    stopSingleInstance();
    // Where no usable runtime exists, a configured address offers the way to one; an address
    // of another scheme is ignored (the packager refuses it).
    AppString jreUrl;
    if (outcome.code == LAUNCH_JRE_NOT_FOUND || outcome.code == LAUNCH_VERSION_TOO_LOW ||
        outcome.code == LAUNCH_JRE_WRONG_ARCHITECTURE) {
        jreUrl = store->get(AppString("jre_url"));
        if (!isJreDownloadAddress(jreUrl.c_str())) jreUrl = AppString();
    }
    if (outcome.code == LAUNCH_JRE_WRONG_ARCHITECTURE) {
        showArchitectureError(outcome.runtimePath.c_str(), outcome.runtimeBits, programBits(), jreUrl.c_str());
    } else if (outcome.code == LAUNCH_KEPT_JARS_UNWRITABLE) {
        showFolderError(outcome.code, outcome.folder.c_str());
    } else {
        showLaunchError(outcome.code, outcome.runningMajor, outcome.runningMinor, outcome.requiredMajor,
                        outcome.requiredMinor, jreUrl.c_str());
    }
    splashAfterError();
    return exitCode;
}

}  // namespace kvx
