#include "jre/JvmDiscovery.h"

#include "base/TextView.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "config/EnvRefs.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/JavaRuntime.h"
#include "platform/Registry.h"

namespace kvx {

namespace {

constexpr const char* DEFAULT_ORDER = "csie";
constexpr const char* JAVASOFT_KEY = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr const char* IBM_KEY = "SOFTWARE\\IBM\\Java2 Runtime Environment";
constexpr uint32_t REGISTRY_VALUE_BUFFER = 260;
constexpr int32_t RUNTIME_LIB_ELEMENTS_CUT = 2;

bool namesAnyMethod(const AppString& order) {
    for (int32_t i = 0; i < order.length(); ++i) {
        if (containsByte(DEFAULT_ORDER, order.charAt(i, '\0'))) return true;
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

// Method s: the JavaSoft key; where the platform has no registry, the runtime the system
// itself names stands in for it.
AppString findJvmFromJavaSoft() {
    AppString found = findJvmFromRegistry(JAVASOFT_KEY);
    if (!found.isEmpty()) return found;
    AppString home = platform::systemJavaHome();
    if (home.isEmpty()) return AppString();
    return findJvmInHome(home);
}

AppString runMethod(char letter, const ConfigStore& store) {
    switch (letter) {
        case 'c': return findJvmFromConfig(store);
        case 's': return findJvmFromJavaSoft();
        case 'i': return findJvmFromRegistry(IBM_KEY);
        case 'e': return findJvmFromEnvironment();
        default: return AppString();
    }
}

}  // namespace

AppString findJvmLibrary(const ConfigStore& store) {
    AppString order = store.get(AppString("jre_order"));
    for (int32_t i = 0; i < order.length(); ++i) order.data()[i] = asciiLower(order.data()[i]);
    if (!namesAnyMethod(order)) order = DEFAULT_ORDER;
    for (int32_t i = 0; i < order.length(); ++i) {
        AppString found = runMethod(order.charAt(i, '\0'), store);
        if (!found.isEmpty()) return found;
    }
    return AppString();
}

AppString findJvmFromConfig(const ConfigStore& store) {
    AppString value = expandEnvRefs(store.get(AppString("jvmdll")));
    if (value.isEmpty()) return AppString();
    AppString path = resolveBesideExecutable(value);
    if (!isReadablePath(path.c_str())) return AppString();
    return path;
}

AppString findJvmFromEnvironment() {
    static const char* const VARIABLES[] = {"JRE_HOME", "JAVA_HOME"};
    for (const char* name : VARIABLES) {
        AppString home;
        if (!platform::getEnv(name, home) || home.isEmpty()) continue;
        AppString found = findJvmInHome(home);
        if (!found.isEmpty()) return found;
    }
    return AppString();
}

AppString findJvmFromRegistry(const char* key) {
    if (!key) return AppString();
    // One buffer for both values: the registry fixes no length, the 260 bytes are ours, and a
    // longer value fails the read (the method then yields nothing).
    char buffer[REGISTRY_VALUE_BUFFER];

    platform::RegistryKey runtimeKey;
    if (!runtimeKey.openLocalMachine(key)) return AppString();
    bool haveVersion = runtimeKey.readString("CurrentVersion", buffer, REGISTRY_VALUE_BUFFER);
    runtimeKey.close();
    if (!haveVersion) return AppString();

    AppString versionKeyPath(key);
    versionKeyPath.appendChar('\\');
    versionKeyPath.append(buffer);
    platform::RegistryKey versionKey;
    if (!versionKey.openLocalMachine(versionKeyPath.c_str())) return AppString();
    bool haveLibrary = versionKey.readString("RuntimeLib", buffer, REGISTRY_VALUE_BUFFER);
    versionKey.close();
    if (!haveLibrary) return AppString();

    AppString library(buffer);
    if (isReadablePath(library.c_str())) return library;
    // A stale RuntimeLib (bin\client\jvm.dll after an update moved it): search the home that
    // two levels up gives, which finds a sibling directory such as bin\server.
    for (int32_t i = 0; i < RUNTIME_LIB_ELEMENTS_CUT; ++i) cutLastElement(library);
    return findJvmInHome(library);
}

AppString findJvmInHome(const AppString& home) {
    const char* libraryName = platform::jvmLibraryName();
    AppString base(home);
    if (!isPathSeparator(base.lastChar())) base.appendChar('/');

    for (int32_t s = 0; s < platform::javaHomeSuffixCount(); ++s) {
        AppString directory = base;
        directory.append(platform::javaHomeSuffix(s));

        AppString direct = directory;
        direct.append(libraryName);
        if (isReadablePath(direct.c_str())) return direct;

        platform::DirectoryEnumeration entries;
        if (!entries.open(directory.c_str())) continue;
        AppString name;
        bool isDirectory = false;
        while (entries.next(name, isDirectory)) {
            if (!isDirectory || name == "." || name == "..") continue;
            AppString candidate = directory;
            candidate.append(name);
            candidate.appendChar('/');
            candidate.append(libraryName);
            if (isReadablePath(candidate.c_str())) return candidate;
        }
    }
    return AppString();
}

}  // namespace kvx
