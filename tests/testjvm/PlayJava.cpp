// The steps with which a script plays Java: calling the natives of the application's own
// library as a runtime binds and calls them, making objects, touching their fields and
// running Java threads.

#include "EventLog.h"
#include "Text.h"
#include "Vm.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <mutex>

namespace testjvm {

namespace {

// ---- the library of System.load ----

std::mutex g_loadLock;
HMODULE g_appLibrary = nullptr;
bool g_loadTried = false;

// Loads the library named by kvx.app.path once, as the static initializers of the Java
// classes do; null (with an UnsatisfiedLinkError pending) when that fails.
HMODULE appLibrary(Vm& vm, ThreadState& t) {
    std::lock_guard<std::mutex> once(g_loadLock);
    std::string path;
    {
        auto guard = vm.lock();
        auto it = vm.properties.find("kvx.app.path");
        if (it == vm.properties.end()) {
            std::string msg = "kvx.app.path is not set";
            vm.throwNew(t, "java/lang/UnsatisfiedLinkError", &msg);
            return nullptr;
        }
        path = it->second;
    }
    if (!g_loadTried) {
        g_loadTried = true;
        std::u16string wide = utf8ToUtf16(path);
        g_appLibrary = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
        if (g_appLibrary) {
            EventLog::instance().line("load " + path);
        } else {
            EventLog::instance().linef("load-failed %s error=%lu", path.c_str(), GetLastError());
        }
    }
    if (!g_appLibrary) {
        auto guard = vm.lock();
        std::string msg = "Can't load library: " + path;
        vm.throwNew(t, "java/lang/UnsatisfiedLinkError", &msg);
    }
    return g_appLibrary;
}

// ---- JNI names ----

void appendMangled(std::string& out, const std::string& text) {
    std::u16string units = utf8ToUtf16(text);
    for (char16_t c : units) {
        if (c == u'/') out += '_';
        else if (c == u'_') out += "_1";
        else if (c == u';') out += "_2";
        else if (c == u'[') out += "_3";
        else if (c < 0x80 && (std::isalnum(static_cast<int>(c)))) out += static_cast<char>(c);
        else out += format("_0%04x", static_cast<unsigned>(c));
    }
}

std::string shortName(const std::string& cls, const std::string& method) {
    std::string name = "Java_";
    appendMangled(name, cls);
    name += '_';
    appendMangled(name, method);
    return name;
}

std::string longName(const std::string& cls, const std::string& method, const std::string& sig) {
    std::string name = shortName(cls, method) + "__";
    appendMangled(name, sig.substr(1, sig.find(')') - 1));
    return name;
}

// The name under which this platform's runtime looks the native up: on i686 the stdcall
// decoration only, so an export that is off by one character is not found.
std::string exportName(const std::string& jniName, size_t argCount) {
    if (sizeof(void*) != 4) return jniName;
    return format("_%s@%u", jniName.c_str(), static_cast<unsigned>(8 + 4 * argCount));
}

// ---- the call ----

using Word = intptr_t;

// Calls a native of any supported shape: every argument is one machine word (int-like
// values and references alike), and so is the result.
Word callNative(void* fn, JNIEnv* env, jobject receiver, const std::vector<Word>& a) {
    switch (a.size()) {
    case 0: return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject)>(fn)(env, receiver);
    case 1: return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word)>(fn)(env, receiver, a[0]);
    case 2: return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word, Word)>(fn)(env, receiver, a[0], a[1]);
    case 3:
        return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word, Word, Word)>(fn)(env, receiver, a[0], a[1], a[2]);
    case 4:
        return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word, Word, Word, Word)>(fn)(env, receiver, a[0], a[1],
                                                                                               a[2], a[3]);
    case 5:
        return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word, Word, Word, Word, Word)>(fn)(
            env, receiver, a[0], a[1], a[2], a[3], a[4]);
    default:
        return reinterpret_cast<Word(JNICALL*)(JNIEnv*, jobject, Word, Word, Word, Word, Word, Word)>(fn)(
            env, receiver, a[0], a[1], a[2], a[3], a[4], a[5]);
    }
}

// The object a script argument names (the lock held); false for an unknown variable.
bool argObject(Vm& vm, const ArgSpec& arg, Obj*& out) {
    out = nullptr;
    switch (arg.kind) {
    case ArgSpec::Kind::Null:
        return true;
    case ArgSpec::Kind::Text:
        out = vm.newString(utf8ToUtf16(arg.text));
        return true;
    case ArgSpec::Kind::Variable: {
        auto it = vm.variables.find(arg.text);
        if (it == vm.variables.end()) return false;
        out = it->second;
        return true;
    }
    case ArgSpec::Kind::Number:
        return false;
    }
    return false;
}

[[noreturn]] void unknownVariable(const std::string& name) {
    EventLog::instance().line("script-error unknown variable " + name);
    EventLog::toStderr("testjvm: bad script: unknown variable " + name + "\n");
    TerminateProcess(GetCurrentProcess(), 96);
    for (;;) Sleep(INFINITE);
}

std::string describeValue(Vm& vm, char type, Word raw, Obj* obj) {
    switch (type) {
    case 'V': return "void";
    case 'L': return vm.describe(obj);
    case 'Z': return (raw & 0xFF) ? "true" : "false";
    default: return std::to_string(static_cast<jint>(raw));
    }
}

bool playNative(Vm& vm, ThreadState& t, const MainStep& step) {
    std::vector<char> types;
    char ret = 'V';
    parseMethodDescriptor(step.sig, types, ret);
    std::string what = step.cls + "." + step.method + step.sig;
    HMODULE library = appLibrary(vm, t);
    if (!library) return false;
    std::string shortExport = exportName(shortName(step.cls, step.method), types.size());
    std::string longExport = exportName(longName(step.cls, step.method, step.sig), types.size());
    void* fn = reinterpret_cast<void*>(GetProcAddress(library, shortExport.c_str()));
    if (!fn) fn = reinterpret_cast<void*>(GetProcAddress(library, longExport.c_str()));
    if (!fn) {
        EventLog::instance().line("native-unlinked " + shortExport + " " + longExport);
        auto guard = vm.lock();
        std::string msg = what;
        vm.throwNew(t, "java/lang/UnsatisfiedLinkError", &msg);
        return false;
    }
    bool quiet = step.number > 1;
    for (long round = 0; round < step.number; ++round) {
        auto guard = vm.lock();
        size_t mark = vm.localMark();
        jobject receiver = nullptr;
        if (step.receiver.empty()) {
            Klass* k = vm.findClass(step.cls);
            if (k == nullptr) {
                std::string msg = step.cls;
                vm.throwNew(t, "java/lang/NoClassDefFoundError", &msg);
                return false;
            }
            receiver = vm.localRef(t, k->mirror);
        } else {
            auto it = vm.variables.find(step.receiver);
            if (it == vm.variables.end()) unknownVariable(step.receiver);
            if (it->second == nullptr) {
                std::string msg = "receiver " + step.receiver + " is null";
                vm.throwNew(t, "java/lang/NullPointerException", &msg);
                return false;
            }
            receiver = vm.localRef(t, it->second);
        }
        std::vector<Word> words;
        for (size_t i = 0; i < types.size(); ++i) {
            const ArgSpec& arg = step.args[i];
            if (types[i] != 'L') {
                words.push_back(static_cast<Word>(static_cast<jint>(arg.number)));
                continue;
            }
            Obj* obj = nullptr;
            if (!argObject(vm, arg, obj)) unknownVariable(arg.text);
            words.push_back(reinterpret_cast<Word>(vm.localRef(t, obj)));
        }
        if (!quiet) EventLog::instance().line("native-call " + what + " thread=" + t.name);
        guard.unlock();
        Word raw = callNative(fn, &t.env, receiver, words);
        guard.lock();
        Obj* result = ret == 'L' ? vm.deref(t, reinterpret_cast<jobject>(raw), "the native's result") : nullptr;
        vm.releaseLocalsSince(t, mark);
        if (!step.result.empty()) vm.variables[step.result] = result;
        if (!quiet) {
            EventLog::instance().line("native-return " + what + " = " + describeValue(vm, ret, raw, result) +
                                      " thread=" + t.name);
        }
        if (t.pending != nullptr) {
            EventLog::instance().line("native-threw " + what + " " + vm.throwableText(t.pending));
            return false;
        }
    }
    if (quiet) EventLog::instance().linef("repeat-done %ld %s thread=%s", step.number, what.c_str(), t.name.c_str());
    return true;
}

Field* fieldNamed(Klass* k, const std::string& name) {
    for (Klass* c = k; c != nullptr; c = c->super) {
        for (auto& f : c->fields) {
            if (f->name == name) return f.get();
        }
    }
    return nullptr;
}

Obj* variableObject(Vm& vm, const std::string& name) {
    auto it = vm.variables.find(name);
    if (it == vm.variables.end()) unknownVariable(name);
    if (it->second == nullptr) unknownVariable(name + " (null)");
    return it->second;
}

struct JavaThreadStart {
    ThreadState* thread;
    const Routine* routine;
};

DWORD WINAPI javaThreadMain(void* param) {
    auto* start = static_cast<JavaThreadStart*>(param);
    Vm& vm = Vm::instance();
    ThreadState& t = *start->thread;
    runSteps(vm, t, start->routine->steps, {});
    {
        auto guard = vm.lock();
        // An exception that leaves the thread's run method: the runtime prints it.
        if (t.pending != nullptr) EventLog::instance().line("uncaught " + t.name + " " + vm.throwableText(t.pending));
    }
    EventLog::instance().line("thread-end " + t.name);
    {
        auto guard = vm.lock();
        vm.detachThread(t);
    }
    delete start;
    return 0;
}

}  // namespace

// The int-like arguments of the method body running on this thread (only-if-arg reads them).
thread_local std::vector<long long> t_intArgs;

void runMethodBody(Vm& vm, ThreadState& t, const Routine& routine, Obj* self, const Method& m,
                   const std::vector<Value>& args) {
    std::vector<long long> ints(args.size(), 0);
    {
        auto guard = vm.lock();
        vm.variables["this"] = self;
        for (size_t i = 0; i < args.size(); ++i) {
            if (m.argTypes[i] == 'L') vm.variables["arg" + std::to_string(i)] = args[i].obj;
            else ints[i] = args[i].prim.i;
        }
    }
    std::vector<long long> outer = std::move(t_intArgs);  // a body may run inside another's
    t_intArgs = std::move(ints);
    runSteps(vm, t, routine.steps, {});
    t_intArgs = std::move(outer);
}

bool playJavaStep(Vm& vm, ThreadState& t, const MainStep& step) {
    using K = MainStep::Kind;
    EventLog& log = EventLog::instance();
    switch (step.kind) {
    case K::Native:
        return playNative(vm, t, step);
    case K::WaitsFile: {
        std::u16string path = utf8ToUtf16(step.text);
        DWORD start = GetTickCount();
        bool found = false;
        for (;;) {
            found = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str())) != INVALID_FILE_ATTRIBUTES;
            if (found || GetTickCount() - start >= static_cast<DWORD>(step.number)) break;
            Sleep(50);
        }
        log.line((found ? "waited " : "wait-timeout ") + step.text);
        return true;
    }
    case K::OnlyIfArg: {
        size_t index = static_cast<size_t>(step.number);
        return index < t_intArgs.size() && t_intArgs[index] == step.args[0].number;
    }
    case K::New: {
        auto guard = vm.lock();
        Klass* k = vm.findClass(step.text2);
        Method* init = k ? vm.findMethod(k, "<init>", "()V", false) : nullptr;
        if (init == nullptr) {
            std::string msg = step.text2 + ".<init>()V";
            vm.throwNew(t, k ? "java/lang/NoSuchMethodError" : "java/lang/NoClassDefFoundError", &msg);
            return false;
        }
        Obj* obj = vm.newInstance(k);
        guard.unlock();
        init->impl(vm, t, *init, obj, {});
        guard.lock();
        vm.variables[step.text] = obj;
        log.line("new " + step.text + " = " + vm.describe(obj));
        return t.pending == nullptr;
    }
    case K::SetField:
    case K::GetField: {
        auto guard = vm.lock();
        Obj* obj = variableObject(vm, step.text);
        Field* f = fieldNamed(obj->klass, step.text2);
        if (f == nullptr) {
            std::string msg = step.text2;
            vm.throwNew(t, "java/lang/NoSuchFieldError", &msg);
            return false;
        }
        Value& slot = obj->fields[f->slot];
        bool isObject = f->sig[0] == 'L' || f->sig[0] == '[';
        if (step.kind == K::SetField) {
            const ArgSpec& arg = step.args[0];
            if (isObject) {
                Obj* value = nullptr;
                if (!argObject(vm, arg, value)) unknownVariable(arg.text);
                slot.obj = value;
            } else {
                slot.prim.i = static_cast<jint>(arg.number);
            }
        }
        log.line(std::string(step.kind == K::SetField ? "set-field " : "field ") + step.text + "." + step.text2 +
                 " = " + (isObject ? vm.describe(slot.obj) : std::to_string(slot.prim.i)));
        return true;
    }
    case K::Start: {
        const Routine* routine = vm.script.findRoutine(step.text);
        auto* start = new JavaThreadStart{nullptr, routine};
        DWORD id = 0;
        HANDLE h = CreateThread(nullptr, 0, javaThreadMain, start, CREATE_SUSPENDED, &id);
        if (h == nullptr) {
            log.line("thread-failed " + step.text2);
            delete start;
            return true;
        }
        HANDLE forJoin = nullptr;
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &forJoin, 0, FALSE, DUPLICATE_SAME_ACCESS);
        {
            auto guard = vm.lock();
            start->thread = &vm.attachThread(step.text2, false, id);
            vm.scriptThreads.push_back(h);
            vm.javaThreads[step.text2] = forJoin;
        }
        log.line("thread-start " + step.text2);
        ResumeThread(h);
        return true;
    }
    case K::Join: {
        HANDLE h = nullptr;
        {
            auto guard = vm.lock();
            auto it = vm.javaThreads.find(step.text);
            if (it != vm.javaThreads.end()) h = it->second;
        }
        if (h != nullptr) WaitForSingleObject(h, INFINITE);
        log.line((h ? "joined " : "join-unknown ") + step.text);
        return true;
    }
    default:
        return true;
    }
}

}  // namespace testjvm
