// The application classes a test scripts: their main methods act out the script's steps,
// and their other methods record each call.

#include "EventLog.h"
#include "Process.h"
#include "Text.h"
#include "Vm.h"

#include <windows.h>

#include <vector>

namespace testjvm {

namespace {

std::wstring toWide(const std::string& utf8) {
    std::u16string units = utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

void writeStd(DWORD which, const std::string& text) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

struct ScriptThreadStart {
    ThreadState* thread;
    std::string name;
    DWORD millis;
};

DWORD WINAPI scriptThreadMain(void* param) {
    auto* start = static_cast<ScriptThreadStart*>(param);
    Sleep(start->millis);
    EventLog::instance().line("thread-end " + start->name);
    Vm& vm = Vm::instance();
    {
        auto guard = vm.lock();
        vm.detachThread(*start->thread);
    }
    delete start;
    return 0;
}

// A non-daemon Java thread: attached before it runs, so DestroyJavaVM cannot miss it.
void startScriptThread(Vm& vm, const std::string& name, long millis) {
    auto* start = new ScriptThreadStart{nullptr, name, static_cast<DWORD>(millis)};
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, scriptThreadMain, start, CREATE_SUSPENDED, &id);
    if (h == nullptr) {
        EventLog::instance().line("thread-failed " + name);
        delete start;
        return;
    }
    {
        auto guard = vm.lock();
        start->thread = &vm.attachThread(name, false, id);
        vm.scriptThreads.push_back(h);
    }
    EventLog::instance().line("thread-start " + name);
    ResumeThread(h);
}

std::string propertyText(Vm& vm, const std::string& name) {
    auto guard = vm.lock();
    if (name == "java.vm.version") {
        return vm.script.versionMode == Script::Version::Text ? name + "=" + vm.script.version : name + " null";
    }
    auto it = vm.properties.find(name);
    return it == vm.properties.end() ? name + " null" : name + "=" + it->second;
}

Value runScriptedMain(Vm& vm, ThreadState& t, const Method& m, Obj*, const std::vector<Value>& args) {
    const ScriptedClass& sc = *m.owner->scripted;
    std::vector<std::string> argv;
    {
        auto guard = vm.lock();
        Obj* array = args[0].obj;
        EventLog& log = EventLog::instance();
        if (array == nullptr) {
            log.line("main " + sc.name + " argc=null");
        } else {
            log.linef("main %s argc=%u", sc.name.c_str(), static_cast<unsigned>(array->elements.size()));
            for (size_t i = 0; i < array->elements.size(); ++i) {
                Obj* e = array->elements[i];
                argv.push_back(e == nullptr ? "<null>" : utf16ToUtf8(e->text));
                log.linef("arg %u %s", static_cast<unsigned>(i), argv.back().c_str());
            }
        }
    }
    runSteps(vm, t, sc.steps, argv);
    return {};
}

struct ExitHookCall {
    void(JNICALL* hook)(jint);
    jint code;
};

// As a real runtime ends the process: through exit() of its own C library (ucrtbase, as for
// JDK 9 and later), whose exit handlers run first; the launcher's C library is another one.
[[noreturn]] void exitThroughRuntimeLibrary(jint code) {
    EventLog::instance().linef("runtime-exit %ld", static_cast<long>(code));
    using ExitFunction = void(__cdecl*)(int);
    HMODULE crt = LoadLibraryA("ucrtbase.dll");
    auto crtExit = crt ? reinterpret_cast<ExitFunction>(reinterpret_cast<void*>(GetProcAddress(crt, "exit"))) : nullptr;
    if (crtExit) crtExit(static_cast<int>(code));
    ExitProcess(static_cast<UINT>(code));
}

DWORD WINAPI vmThreadExit(void* param) {
    auto* call = static_cast<ExitHookCall*>(param);
    if (call->hook) {
        EventLog::instance().linef("exit-hook %ld", static_cast<long>(call->code));
        call->hook(call->code);
        EventLog::instance().line("exit-hook-returned");
    }
    exitThroughRuntimeLibrary(call->code);
}

}  // namespace

void writeArchiveAtEnd(const Vm& vm) {
    if (!vm.script.dumpsArchive) return;
    // JDK 13 to 18 write their dynamic archive there; a runtime without its own archive the
    // class list of a static one (all at once here, at the end).
    static const std::string PREFIXES[] = {"-XX:ArchiveClassesAtExit=", "-XX:DumpLoadedClassList="};
    for (const std::string& o : vm.options) {
        const std::string* prefix = nullptr;
        for (const std::string& p : PREFIXES) {
            if (o.rfind(p, 0) == 0) prefix = &p;
        }
        if (!prefix) continue;
        const std::string path = o.substr(prefix->size());
        const std::string content(4096, 'A');
        HANDLE h = CreateFileW(toWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        DWORD written = 0;
        bool ok = h != INVALID_HANDLE_VALUE &&
                  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                  written == content.size();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EventLog::instance().line((ok ? "archive-written " : "archive-write-failed ") + path);
    }
}

void stopIfExiting(const Vm& vm) {
    if (vm.exiting.load()) Sleep(INFINITE);
}

void systemExit(Vm& vm, long code) {
    vm.beginEnding();
    vm.exiting.store(true);
    writeArchiveAtEnd(vm);
    static ExitHookCall call;
    call = {vm.exitHook, static_cast<jint>(code)};
    HANDLE thread = CreateThread(nullptr, 0, vmThreadExit, &call, 0, nullptr);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);  // the VM thread ends the process
    }
    ExitProcess(static_cast<UINT>(code));
}

bool runSteps(Vm& vm, ThreadState& t, const std::vector<MainStep>& steps, const std::vector<std::string>& argv) {
    EventLog& log = EventLog::instance();
    using K = MainStep::Kind;
    for (const MainStep& step : steps) {
        stopIfExiting(vm);
        switch (step.kind) {
        case K::Returns:
            return false;
        case K::Throws: {
            auto guard = vm.lock();
            vm.throwNew(t, step.text, step.hasText2 ? &step.text2 : nullptr);
            return false;
        }
        case K::Exit:
            // System.exit: the process ends here, with no return to the caller of main.
            log.linef("exit %ld", step.number);
            systemExit(vm, step.number);
        case K::Sleeps:
            Sleep(static_cast<DWORD>(step.number));
            break;
        case K::WritesFile: {
            std::string content;
            for (const std::string& a : argv) content += a + "\n";
            HANDLE h = CreateFileW(toWide(step.text).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            bool ok = h != INVALID_HANDLE_VALUE &&
                      WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                      written == content.size();
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            log.line((ok ? "wrote " : "write-failed ") + step.text);
            break;
        }
        case K::Cwd:
            log.line("cwd " + currentDirectory());
            break;
        case K::Env:
            log.line("env " + describeVariable(step.text));
            break;
        case K::Property:
            log.line("property " + propertyText(vm, step.text));
            break;
        case K::Thread:
            startScriptThread(vm, step.text, step.number);
            break;
        case K::Stdout:
            writeStd(STD_OUTPUT_HANDLE, step.text + "\n");
            break;
        case K::Stderr:
            writeStd(STD_ERROR_HANDLE, step.text + "\n");
            break;
        case K::Native:
        case K::New:
        case K::SetField:
        case K::GetField:
        case K::Start:
        case K::Join:
        case K::WaitsFile:
        case K::OnlyIfArg:
            if (!playJavaStep(vm, t, step)) return false;
            break;
        }
    }
    return true;
}

namespace {

Value recordCall(Vm& vm, ThreadState& t, const Method& m, Obj* self, const std::vector<Value>& args) {
    std::string line = "call " + m.owner->name + "." + m.name + m.sig;
    {
        auto guard = vm.lock();
        if (self != nullptr) line += " on " + vm.describe(self);
        for (size_t i = 0; i < args.size(); ++i) {
            line += ' ';
            switch (m.argTypes[i]) {
            case 'L': line += vm.describe(args[i].obj); break;
            case 'Z': line += args[i].prim.z ? "true" : "false"; break;
            case 'B': line += std::to_string(args[i].prim.b); break;
            case 'C': line += std::to_string(args[i].prim.c); break;
            case 'S': line += std::to_string(args[i].prim.s); break;
            case 'I': line += std::to_string(args[i].prim.i); break;
            case 'J': line += std::to_string(args[i].prim.j); break;
            case 'F': line += std::to_string(args[i].prim.f); break;
            case 'D': line += std::to_string(args[i].prim.d); break;
            }
        }
        line += " thread=" + t.name;
    }
    EventLog::instance().line(line);
    for (const MemberDecl& md : m.owner->scripted->methods) {
        if (md.name != m.name || md.sig != m.sig || md.runs.empty()) continue;
        if (const Routine* r = vm.script.findRoutine(md.runs)) runMethodBody(vm, t, *r, self, m, args);
    }
    return {};
}

Value doNothing(Vm&, ThreadState&, const Method&, Obj*, const std::vector<Value>&) { return {}; }

}  // namespace

bool defineScriptedClasses(Vm& vm, std::string& error) {
    for (const ScriptedClass& sc : vm.script.classes) {
        if (vm.findClass(sc.name) != nullptr) {
            error = "class defined twice: " + sc.name;
            return false;
        }
        Klass* super = vm.findClass(sc.super);
        if (super == nullptr) {
            error = "unknown superclass " + sc.super + " of " + sc.name;
            return false;
        }
        Klass* k = vm.defineClass(sc.name, super);
        k->scripted = &sc;
        if (k->throwable) {
            addThrowableConstructors(vm, k);
        } else {
            vm.addMethod(k, "<init>", "()V", false, doNothing);
        }
        if (sc.hasMain) vm.addMethod(k, "main", "([Ljava/lang/String;)V", true, runScriptedMain);
        for (const MemberDecl& f : sc.fields) vm.addField(k, f.name, f.sig);
        for (const MemberDecl& md : sc.methods) vm.addMethod(k, md.name, md.sig, md.isStatic, recordCall);
    }
    return true;
}

}  // namespace testjvm
