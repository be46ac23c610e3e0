// The exported entry points of the library and the JavaVM function table: creation,
// attaching and detaching threads, and destruction, which waits for the non-daemon threads.

#include "Dependency.h"
#include "EventLog.h"
#include "ExitCodes.h"
#include "Process.h"
#include "Text.h"
#include "Vm.h"

#include <windows.h>

#include <cstring>
#include <type_traits>

// Defined under names of our own and exported by the module-definition files under the
// names (and, on i686, the stdcall decorations) a Java runtime exports.
extern "C" {
jint JNICALL testjvm_CreateJavaVM(JavaVM** pvm, void** penv, void* args);
jint JNICALL testjvm_GetDefaultJavaVMInitArgs(void* args);
jint JNICALL testjvm_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count);
}
static_assert(std::is_same_v<decltype(&testjvm_CreateJavaVM), decltype(&JNI_CreateJavaVM)>);
static_assert(std::is_same_v<decltype(&testjvm_GetDefaultJavaVMInitArgs), decltype(&JNI_GetDefaultJavaVMInitArgs)>);
static_assert(std::is_same_v<decltype(&testjvm_GetCreatedJavaVMs), decltype(&JNI_GetCreatedJavaVMs)>);

namespace testjvm {

namespace {

bool isSupportedVersion(jint v) {
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == JNI_VERSION_9 || v == JNI_VERSION_10;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool isHookName(const char* o) {
    return std::strcmp(o, "exit") == 0 || std::strcmp(o, "abort") == 0 || std::strcmp(o, "vfprintf") == 0;
}

// Options a runtime accepts. -X and _ options pass whatever they say: with
// ignoreUnrecognized a runtime skips the ones it does not know.
bool isAcceptedOption(const std::string& o) {
    if (startsWith(o, "-D") || startsWith(o, "-X") || startsWith(o, "_")) return true;
    if (o == "-verbose" || startsWith(o, "-verbose:")) return true;
    static const char* const FLAGS[] = {"-ea", "-da", "-esa", "-dsa", "-enableassertions", "-disableassertions",
                                        "-enablesystemassertions", "-disablesystemassertions"};
    for (const char* f : FLAGS) {
        if (o == f || startsWith(o, (std::string(f) + ":").c_str())) return true;
    }
    static const char* const PREFIXES[] = {"-javaagent:", "-agentlib:", "-agentpath:", "--add-opens=", "--add-exports=",
                                           "--add-modules=", "--add-reads=", "--limit-modules=", "--module-path=",
                                           "--upgrade-module-path=", "--patch-module=", "--enable-native-access="};
    for (const char* p : PREFIXES) {
        if (startsWith(o, p)) return true;
    }
    return false;
}

[[noreturn]] void scriptError(const std::string& text) {
    EventLog::instance().line("script-error " + text);
    EventLog::toStderr("testjvm: bad script: " + text + "\n");
    TerminateProcess(GetCurrentProcess(), EXIT_SCRIPT_ERROR);
    for (;;) Sleep(INFINITE);
}

bool readEnv(const wchar_t* name, std::wstring& out) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return false;
    out.assign(n, L'\0');
    DWORD len = GetEnvironmentVariableW(name, &out[0], n);
    if (len >= n) return false;
    out.resize(len);
    return true;
}

std::string narrow(const std::wstring& w) {
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

void loadScript(Script& script) {
    script = Script{};
    std::wstring path;
    if (readEnv(L"KVX_TESTJVM_SCRIPT", path) && !path.empty()) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) scriptError("cannot open " + narrow(path));
        std::string text;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
        CloseHandle(h);
        std::string error;
        if (!script.parse(text, error)) scriptError(error);
    }
    std::wstring list;
    if (readEnv(L"KVX_TESTJVM_CLASSES", list)) script.addClassList(narrow(list));
}

void addProperty(Vm& vm, const std::string& option) {
    std::string body = option.substr(2);
    size_t eq = body.find('=');
    vm.properties[body.substr(0, eq)] = eq == std::string::npos ? std::string() : body.substr(eq + 1);
}

JavaVM* checkVm(JavaVM* vm, const char* fn) {
    if (vm != &Vm::instance().javaVm) Vm::misuse(fn, "not the JavaVM of this runtime");
    return vm;
}

jint attach(JavaVM* javaVm, void** penv, void* args, bool daemon) {
    const char* fn = daemon ? "AttachCurrentThreadAsDaemon" : "AttachCurrentThread";
    checkVm(javaVm, fn);
    Vm& vm = Vm::instance();
    auto guard = vm.lock();
    EventLog::instance().line(daemon ? "attach daemon" : "attach");
    if (penv == nullptr) Vm::misuse(fn, "null result pointer");
    if (vm.state != Vm::State::Running) return JNI_ERR;
    vm.haltIfEnding(fn);
    if (vm.script.attachResult != 0) {
        EventLog::instance().linef("attach-refused %ld", vm.script.attachResult);
        return static_cast<jint>(vm.script.attachResult);
    }
    if (ThreadState* t = vm.currentThread()) {
        *penv = &t->env;  // already attached: the same environment, as the JNI says
        return JNI_OK;
    }
    auto* attachArgs = static_cast<JavaVMAttachArgs*>(args);
    if (attachArgs != nullptr && !isSupportedVersion(attachArgs->version)) return JNI_EVERSION;
    std::string name = attachArgs != nullptr && attachArgs->name != nullptr
                           ? attachArgs->name
                           : format("Thread-%u", vm.nextThreadNumber());
    ThreadState& t = vm.attachThread(name, daemon, GetCurrentThreadId());
    *penv = &t.env;
    if (vm.script.attachDelayMs > 0) {
        guard.unlock();
        Sleep(static_cast<DWORD>(vm.script.attachDelayMs));
    }
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void* args) { return attach(vm, penv, args, false); }

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) { return attach(vm, penv, args, true); }

jint JNICALL DetachCurrentThread(JavaVM* javaVm) {
    checkVm(javaVm, "DetachCurrentThread");
    Vm& vm = Vm::instance();
    auto guard = vm.lock();
    EventLog::instance().line("detach");
    if (vm.state != Vm::State::Running) return JNI_ERR;
    vm.haltIfEnding("DetachCurrentThread");
    if (ThreadState* t = vm.currentThread()) vm.detachThread(*t);
    return JNI_OK;  // detaching a thread that is not attached is no error
}

jint JNICALL GetEnv(JavaVM* javaVm, void** penv, jint version) {
    checkVm(javaVm, "GetEnv");
    Vm& vm = Vm::instance();
    auto guard = vm.lock();
    if (penv == nullptr) Vm::misuse("GetEnv", "null result pointer");
    *penv = nullptr;
    if (vm.state != Vm::State::Running) return JNI_EDETACHED;
    ThreadState* t = vm.currentThread();
    if (t == nullptr) return JNI_EDETACHED;
    if (!isSupportedVersion(version) && version != JNI_VERSION_1_1) return JNI_EVERSION;
    *penv = &t->env;
    return JNI_OK;
}

jint JNICALL DestroyJavaVM(JavaVM* javaVm) {
    checkVm(javaVm, "DestroyJavaVM");
    Vm& vm = Vm::instance();
    stopIfExiting(vm);
    auto guard = vm.lock();
    EventLog& log = EventLog::instance();
    log.line("destroy");
    if (vm.state != Vm::State::Running) return JNI_ERR;
    // A runtime attaches the destroying thread first; it then waits to be the last
    // non-daemon thread.
    ThreadState* self = vm.currentThread();
    if (self == nullptr) self = &vm.attachThread("DestroyJavaVM", false, GetCurrentThreadId());
    size_t others = vm.otherNonDaemonThreads(self);
    if (others > 0) log.linef("destroy-waits threads=%u", static_cast<unsigned>(others));
    vm.threadsChanged.wait(guard, [&] { return vm.otherNonDaemonThreads(self) == 0; });
    // The script's threads have detached; let them leave our code before the caller may
    // unload the library.
    std::vector<void*> handles;
    handles.swap(vm.scriptThreads);
    // The last phase: from here on other threads that attach or call JNI never come back.
    vm.beginEnding();
    guard.unlock();
    for (void* h : handles) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    if (vm.script.finalPhaseMs > 0) Sleep(static_cast<DWORD>(vm.script.finalPhaseMs));
    guard.lock();
    writeArchiveAtEnd(vm);
    vm.detachThread(*self);
    vm.state = Vm::State::Destroyed;
    log.linef("destroyed global-refs=%u pinned-strings=%u", static_cast<unsigned>(vm.liveGlobalCount()),
              static_cast<unsigned>(vm.pinnedCount()));
    return JNI_OK;
}

}  // namespace

const JNIInvokeInterface_* invokeInterface() {
    static const JNIInvokeInterface_ table = [] {
        JNIInvokeInterface_ t{};
        t.DestroyJavaVM = DestroyJavaVM;
        t.AttachCurrentThread = AttachCurrentThread;
        t.DetachCurrentThread = DetachCurrentThread;
        t.GetEnv = GetEnv;
        t.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
        return t;
    }();
    return &table;
}

}  // namespace testjvm

using testjvm::EventLog;
using testjvm::Vm;

extern "C" jint JNICALL testjvm_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    auto* initArgs = static_cast<JavaVMInitArgs*>(args);
    if (pvm == nullptr || penv == nullptr || initArgs == nullptr) Vm::misuse("JNI_CreateJavaVM", "null argument");
    Vm& vm = Vm::instance();
    auto guard = vm.lock();
    EventLog& log = EventLog::instance();
    log.linef("create version=0x%08x nOptions=%d ignoreUnrecognized=%d", static_cast<unsigned>(initArgs->version),
              static_cast<int>(initArgs->nOptions), static_cast<int>(initArgs->ignoreUnrecognized));
    if (vm.state != Vm::State::Fresh) return JNI_EEXIST;  // one machine per process, ever
    if (!testjvm::isSupportedVersion(initArgs->version)) return JNI_EVERSION;
    if (initArgs->nOptions < 0 || (initArgs->nOptions > 0 && initArgs->options == nullptr)) {
        Vm::misuse("JNI_CreateJavaVM", "bad option array");
    }
    std::vector<std::string> options;
    void(JNICALL* exitHook)(jint) = nullptr;
    for (jint i = 0; i < initArgs->nOptions; ++i) {
        const char* text = initArgs->options[i].optionString;
        if (text == nullptr) Vm::misuse("JNI_CreateJavaVM", testjvm::format("option %d is null", static_cast<int>(i)));
        // The hooks are functions, not options: they are recorded apart and leave the list.
        if (testjvm::isHookName(text)) {
            log.line(std::string("hook ") + text);
            if (std::strcmp(text, "exit") == 0) {
                exitHook = reinterpret_cast<void(JNICALL*)(jint)>(initArgs->options[i].extraInfo);
            }
            continue;
        }
        options.push_back(testjvm::ansiToUtf8(text));
        log.line("option " + options.back());
    }
    testjvm::loadScript(vm.script);
    if (const char* note = testjvm::dependencyNote()) log.line(std::string("dependency ") + note);
    log.line("cwd " + testjvm::currentDirectory());
    log.line("library " + testjvm::modulePathOf(reinterpret_cast<const void*>(&testjvm_CreateJavaVM)));
    for (const std::string& name : vm.script.recordedEnv) log.line("env " + testjvm::describeVariable(name));
    for (const std::string& o : options) {
        if (!testjvm::isAcceptedOption(o)) {
            log.line("unrecognized-option " + o);
            EventLog::toStderr("Unrecognized option: " + o + "\nError: Could not create the Java Virtual Machine.\n"
                               "Error: A fatal exception has occurred. Program will exit.\n");
            return JNI_ERR;
        }
    }
    if (vm.script.createResult != 0) return static_cast<jint>(vm.script.createResult);

    vm.options = options;
    vm.exitHook = exitHook;
    // Its own C library, as a real runtime's imports load it (the launcher's is msvcrt.dll).
    LoadLibraryA("ucrtbase.dll");
    for (const std::string& o : options) {
        if (o.rfind("-D", 0) == 0) testjvm::addProperty(vm, o);
    }
    testjvm::defineBootClasses(vm);
    std::string error;
    if (!testjvm::defineScriptedClasses(vm, error)) testjvm::scriptError(error);

    vm.javaVm.functions = testjvm::invokeInterface();
    vm.state = Vm::State::Running;
    testjvm::ThreadState& t = vm.attachThread("main", false, GetCurrentThreadId());
    *pvm = &vm.javaVm;
    *penv = &t.env;
    return JNI_OK;
}

extern "C" jint JNICALL testjvm_GetDefaultJavaVMInitArgs(void* args) {
    auto* initArgs = static_cast<JavaVMInitArgs*>(args);
    if (initArgs == nullptr) Vm::misuse("JNI_GetDefaultJavaVMInitArgs", "null argument");
    EventLog::instance().linef("get-default-init-args version=0x%08x", static_cast<unsigned>(initArgs->version));
    return testjvm::isSupportedVersion(initArgs->version) ? JNI_OK : JNI_EVERSION;
}

extern "C" jint JNICALL testjvm_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
    Vm& vm = Vm::instance();
    auto guard = vm.lock();
    bool running = vm.state == Vm::State::Running;
    if (count != nullptr) *count = running ? 1 : 0;
    if (running && vms != nullptr && size > 0) vms[0] = &vm.javaVm;
    return JNI_OK;
}

namespace {

// NAME=VALUE lines (UTF-8) of the file testjvm.env beside this library become environment
// variables when it loads: the environment of a process the test cannot start itself (a
// service, started by the service manager) still names the log and the script.
std::wstring utf8ToUtf16W(const std::string& utf8) {
    std::u16string units = testjvm::utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

void applyEnvFile(HINSTANCE self) {
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return;
    std::wstring file(path.data(), n);
    file.resize(file.find_last_of(L"\\/") + 1);
    file += L"testjvm.env";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(h);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos && eq > 0) {
            SetEnvironmentVariableW(utf8ToUtf16W(line.substr(0, eq)).c_str(), utf8ToUtf16W(line.substr(eq + 1)).c_str());
        }
        start = end + 1;
    }
}

}  // namespace

// FreeLibrary is observable: the launcher must free the runtime whatever creation returned.
// Nothing is recorded at process exit, when other threads may have died holding the log.
extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) applyEnvFile(self);
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) EventLog::instance().line("unload");
    return TRUE;
}
