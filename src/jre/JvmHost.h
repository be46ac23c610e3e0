#pragma once
// JvmHost: the Java virtual machine inside this process, through the JNI invocation
// interface. Main thread only. Calling order: addOption..., create, queryVmVersion,
// runMain, unload.

#include <jni.h>

#include "base/AppString.h"
#include "base/StringPool.h"
#include "base/WideStringList.h"
#include "base/LaunchError.h"
#include "platform/DynamicLibrary.h"

namespace kvx {

class JvmHost {
public:
    JvmHost() = default;
    ~JvmHost();
    JvmHost(const JvmHost&) = delete;
    JvmHost& operator=(const JvmHost&) = delete;

    // Runs when Java ends the process itself (System.exit, Runtime.halt), on the runtime's
    // thread after its shutdown work; the process ends when it returns. The code is the exit
    // code where the runtime tells it, else -1. Never after unload.
    using ExitHook = void(JNICALL*)(jint code);
    // Told about the virtual machine's life: with the machine right before main is called
    // (on the calling thread), with null once it was destroyed, before its library is freed.
    using VmHook = void (*)(JavaVM* vm);

    void addOption(const char* text);
    // Armed by create through the runtime's C library, not as a VM option: an "exit" option
    // would show among the application's input arguments (RuntimeMXBean), and applications
    // that restart themselves with them would pass it on to `java`.
    void setExitHook(ExitHook hook) { exitHook_ = hook; }
    void setVmHook(VmHook hook) { vmHook_ = hook; }
    // Loads the library at `path` (retrying once with its parent directory on PATH) and
    // creates the virtual machine. 0, or 1 not loadable (an empty path is not tried at all),
    // 2 no entry point, 4 creation failed.
    [[nodiscard]] LaunchError create(const char* path);
    // The running Java version into `out`: java.version, or java.vm.version where that is
    // not reported; false when it cannot be asked for.
    [[nodiscard]] bool queryVmVersion(AppString& out);
    // Calls className.main(String[]) with `args`: 0, 7 no class, 8 no main.
    [[nodiscard]] LaunchError runMain(const char* className, const WideStringList& args);
    // Detaches, destroys the virtual machine (waits for non-daemon threads), frees the library.
    void unload();

    // True when the last runMain ended with an exception thrown out of main.
    bool mainThrew() const { return mainThrew_; }

    const StringPool& options() const { return options_; }
    JavaVM* vm() const { return vm_; }

private:
    StringPool options_;
    ExitHook exitHook_ = nullptr;
    VmHook vmHook_ = nullptr;
    platform::DynamicLibrary library_;
    JavaVM* vm_ = nullptr;
    JNIEnv* env_ = nullptr;
    bool mainThrew_ = false;
};

// The process-wide current host: set by the entry point, cleared before destruction.
JvmHost* currentJvmHost();
void setCurrentJvmHost(JvmHost* host);

}  // namespace kvx
