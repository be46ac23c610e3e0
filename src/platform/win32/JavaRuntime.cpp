#include "platform/JavaRuntime.h"

#include <windows.h>

namespace kvx::platform {

namespace {
const char* const HOME_SUFFIXES[] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};
constexpr int32_t HOME_SUFFIX_COUNT = static_cast<int32_t>(sizeof HOME_SUFFIXES / sizeof HOME_SUFFIXES[0]);
const char* const BUNDLED_FOLDERS[] = {"runtime\\", "jre\\", "jdk\\"};

// The C libraries Java runtimes are built with: the universal one (JDK 9 and later, through
// the api-ms-win-crt forwarders), then the Visual C++ ones of older runtimes. This program's
// own msvcrt.dll is not among them: its exit handlers do not run when the runtime calls exit.
constexpr const char* UNIVERSAL_CRT = "ucrtbase.dll";
const char* const VISUAL_CRTS[] = {"msvcr120.dll", "msvcr110.dll", "msvcr100.dll", "msvcr90.dll",
                                   "msvcr80.dll",  "msvcr71.dll",  "msvcr70.dll"};

void (*runtimeExitHandler)() = nullptr;

void __cdecl callExitHandler() {
    if (runtimeExitHandler) runtimeExitHandler();
}

int __cdecl callExitHandlerForOnexit() {
    callExitHandler();
    return 0;
}
constexpr int32_t BUNDLED_FOLDER_COUNT = static_cast<int32_t>(sizeof BUNDLED_FOLDERS / sizeof BUNDLED_FOLDERS[0]);
}  // namespace

const char* jvmLibraryName() { return "jvm.dll"; }

int32_t javaHomeSuffixCount() { return HOME_SUFFIX_COUNT; }

const char* javaHomeSuffix(int32_t i) { return i >= 0 && i < HOME_SUFFIX_COUNT ? HOME_SUFFIXES[i] : ""; }

char pathListSeparator() { return ';'; }

bool isLibraryDirSeparator(char c) { return c == '\\' || c == '/'; }

// Installed runtimes are named by the registry; there is no further system default.
AppString systemJavaHome() { return AppString(); }

int32_t bundledRuntimeFolderCount() { return BUNDLED_FOLDER_COUNT; }

const char* bundledRuntimeFolder(int32_t i) { return i >= 0 && i < BUNDLED_FOLDER_COUNT ? BUNDLED_FOLDERS[i] : ""; }

int32_t installedRuntimeRootCount() { return 0; }

AppString installedRuntimeRoot(int32_t) { return AppString(); }

bool runWhenRuntimeExits(void (*handler)()) {
    if (!handler) return false;
    runtimeExitHandler = handler;
    bool registered = false;
    // Registered with every such library that is loaded: only the runtime's ever calls them.
    if (HMODULE crt = GetModuleHandleA(UNIVERSAL_CRT)) {
        using CrtAtExit = int(__cdecl*)(void(__cdecl*)());
        auto atExit = reinterpret_cast<CrtAtExit>(reinterpret_cast<void*>(GetProcAddress(crt, "_crt_atexit")));
        registered = atExit && atExit(callExitHandler) == 0;
    }
    for (const char* name : VISUAL_CRTS) {
        HMODULE crt = GetModuleHandleA(name);
        if (!crt) continue;
        using OnExitFunction = int(__cdecl*)();
        using OnExit = OnExitFunction(__cdecl*)(OnExitFunction);
        auto onExit = reinterpret_cast<OnExit>(reinterpret_cast<void*>(GetProcAddress(crt, "_onexit")));
        if (onExit && onExit(callExitHandlerForOnexit)) registered = true;
    }
    return registered;
}

}  // namespace kvx::platform
