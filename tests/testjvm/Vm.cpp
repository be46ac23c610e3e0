#include "Vm.h"

#include "EventLog.h"
#include "ExitCodes.h"
#include "Text.h"

#include <windows.h>

namespace testjvm {

Vm& Vm::instance() {
    // Deliberately never destroyed: ExitProcess ends other threads wherever they are,
    // possibly holding the lock, and a destructor must not run after that.
    static Vm* vm = new Vm;
    return *vm;
}

void Vm::misuse(const char* fn, const std::string& detail) {
    std::string text = format("JNI-MISUSE %s: %s", fn, detail.c_str());
    EventLog::instance().line(text);
    EventLog::toStderr("testjvm: " + text + "\n");
    // TerminateProcess, not ExitProcess: no library detach code runs behind a broken caller.
    TerminateProcess(GetCurrentProcess(), EXIT_JNI_MISUSE);
    for (;;) Sleep(INFINITE);
}

void Vm::beginEnding() {
    haltedBy.store(GetCurrentThreadId());
    halting.store(true);
}

void Vm::haltIfEnding(const char* fn) {
    if (!halting.load() || haltedBy.load() == GetCurrentThreadId()) return;
    EventLog::instance().line(format("halted %s", fn));
    // The caller's guard never runs its destructor: this thread does not come back.
    mutex_.unlock();
    for (;;) Sleep(INFINITE);
}

ThreadState& Vm::enter(JNIEnv* env, const char* fn, bool exceptionSafe) {
    if (script.slowCallMs > 0 && script.slowCall == fn) {
        // The caller's guard holds the lock; the others go on meanwhile.
        mutex_.unlock();
        Sleep(static_cast<DWORD>(script.slowCallMs));
        mutex_.lock();
    }
    haltIfEnding(fn);
    auto it = envs_.find(env);
    if (it == envs_.end()) misuse(fn, "not a JNIEnv of this runtime");
    ThreadState& t = *it->second;
    if (state != State::Running) misuse(fn, "the virtual machine is not running");
    if (!t.attached) misuse(fn, format("JNIEnv of a detached thread (%s)", t.name.c_str()));
    if (t.osThreadId != GetCurrentThreadId()) {
        misuse(fn, format("JNIEnv of thread %s used on another thread", t.name.c_str()));
    }
    if (!exceptionSafe && t.pending != nullptr) {
        EventLog::instance().linef("jni-warning %s called with a pending exception", fn);
    }
    return t;
}

ThreadState& Vm::attachThread(const std::string& name, bool daemon, unsigned long osThreadId) {
    auto t = std::make_unique<ThreadState>();
    t->env.functions = nativeInterface();
    t->osThreadId = osThreadId;
    t->name = name;
    t->daemon = daemon;
    ThreadState& ref = *t;
    envs_[&ref.env] = &ref;
    attached_[ref.osThreadId] = &ref;
    threads_.push_back(std::move(t));
    return ref;
}

void Vm::detachThread(ThreadState& t) {
    t.attached = false;
    attached_.erase(t.osThreadId);
    // Local references do not outlive the attachment.
    for (Ref& r : refs_) {
        if (r.live && r.kind == RefKind::Local && r.owner == &t) r.live = false;
    }
    t.liveLocals = 0;
    t.pending = nullptr;
    threadsChanged.notify_all();
}

ThreadState* Vm::currentThread() {
    auto it = attached_.find(GetCurrentThreadId());
    return it == attached_.end() ? nullptr : it->second;
}

size_t Vm::otherNonDaemonThreads(const ThreadState* self) const {
    size_t n = 0;
    for (const auto& entry : attached_) {
        if (entry.second != self && !entry.second->daemon) ++n;
    }
    return n;
}

Klass* Vm::findClass(std::string_view name) {
    auto it = classes_.find(name);
    if (it != classes_.end()) return it->second.get();
    // Array classes exist as soon as their element class does.
    if (name.size() > 3 && name[0] == '[' && name[1] == 'L' && name.back() == ';') {
        Klass* element = findClass(name.substr(2, name.size() - 3));
        return element ? arrayClassOf(element) : nullptr;
    }
    return nullptr;
}

Klass* Vm::defineClass(const std::string& name, Klass* super) {
    auto k = std::make_unique<Klass>();
    k->name = name;
    k->super = super;
    if (super != nullptr) {
        k->throwable = super->throwable;
        k->fieldCount = super->fieldCount;
    }
    Klass* raw = k.get();
    classes_[name] = std::move(k);
    Klass* classClass = findClass("java/lang/Class");
    Obj* mirror = newInstance(classClass);  // java/lang/Class itself gets a mirror with no class
    mirror->kind = ObjKind::Class;
    mirror->meta = raw;
    raw->mirror = mirror;
    return raw;
}

Klass* Vm::arrayClassOf(Klass* element) {
    std::string name = element->name[0] == '[' ? "[" + element->name : "[L" + element->name + ";";
    auto it = classes_.find(name);
    if (it != classes_.end()) return it->second.get();
    Klass* k = defineClass(name, findClass("java/lang/Object"));
    k->element = element;
    return k;
}

Method* Vm::addMethod(Klass* k, const std::string& name, const std::string& sig, bool isStatic, MethodImpl impl) {
    auto m = std::make_unique<Method>();
    m->owner = k;
    m->name = name;
    m->sig = sig;
    m->isStatic = isStatic;
    m->impl = impl;
    if (!parseMethodDescriptor(sig, m->argTypes, m->returnType)) return nullptr;
    Method* raw = m.get();
    k->methods.push_back(std::move(m));
    methodIds_.insert(raw);
    return raw;
}

Field* Vm::addField(Klass* k, const std::string& name, const std::string& sig) {
    auto f = std::make_unique<Field>();
    f->owner = k;
    f->name = name;
    f->sig = sig;
    f->slot = k->fieldCount++;
    Field* raw = f.get();
    k->fields.push_back(std::move(f));
    fieldIds_.insert(raw);
    return raw;
}

Method* Vm::findMethod(Klass* k, std::string_view name, std::string_view sig, bool isStatic) {
    // Constructors are not inherited; other methods are looked up through the superclasses.
    for (Klass* c = k; c != nullptr; c = name == "<init>" ? nullptr : c->super) {
        for (auto& m : c->methods) {
            if (m->name == name && m->sig == sig && m->isStatic == isStatic) return m.get();
        }
    }
    return nullptr;
}

Field* Vm::findField(Klass* k, std::string_view name, std::string_view sig) {
    for (Klass* c = k; c != nullptr; c = c->super) {
        for (auto& f : c->fields) {
            if (f->name == name && f->sig == sig) return f.get();
        }
    }
    return nullptr;
}

Klass* Vm::throwableClass(const std::string& name) {
    if (Klass* k = findClass(name)) return k;
    bool isError = name.size() >= 5 && name.compare(name.size() - 5, 5, "Error") == 0;
    Klass* k = defineClass(name, findClass(isError ? "java/lang/Error" : "java/lang/RuntimeException"));
    addThrowableConstructors(*this, k);
    return k;
}

bool Vm::isSubclass(const Klass* k, const Klass* of) {
    for (const Klass* c = k; c != nullptr; c = c->super) {
        if (c == of) return true;
    }
    return false;
}

Obj* Vm::newInstance(Klass* k) {
    auto o = std::make_unique<Obj>();
    o->klass = k;
    o->id = nextObjectId_++;
    if (k != nullptr) o->fields.resize(k->fieldCount);
    Obj* raw = o.get();
    objects_.push_back(std::move(o));
    return raw;
}

Obj* Vm::newString(std::u16string text) {
    Obj* o = newInstance(findClass("java/lang/String"));
    o->kind = ObjKind::String;
    o->text = std::move(text);
    return o;
}

Obj* Vm::newArray(Klass* element, size_t length) {
    Obj* o = newInstance(arrayClassOf(element));
    o->kind = ObjKind::Array;
    o->elements.assign(length, nullptr);
    return o;
}

Obj* Vm::newThrowable(Klass* k, Obj* message) {
    Obj* o = newInstance(k);
    o->message = message;
    return o;
}

void Vm::throwNew(ThreadState& t, const std::string& className, const std::string* message) {
    Obj* text = message ? newString(utf8ToUtf16(*message)) : nullptr;
    t.pending = newThrowable(throwableClass(className), text);
}

jobject Vm::localRef(ThreadState& t, Obj* obj) {
    if (obj == nullptr) return nullptr;
    refs_.push_back(Ref{obj, RefKind::Local, &t, true});
    Ref* r = &refs_.back();
    refSet_.insert(r);
    ++t.liveLocals;
    return reinterpret_cast<jobject>(r);
}

jobject Vm::globalRef(Obj* obj) {
    if (obj == nullptr) return nullptr;
    refs_.push_back(Ref{obj, RefKind::Global, nullptr, true});
    Ref* r = &refs_.back();
    refSet_.insert(r);
    return reinterpret_cast<jobject>(r);
}

Ref* Vm::refOf(jobject ref, const char* fn) {
    auto* r = reinterpret_cast<Ref*>(ref);
    if (refSet_.count(r) == 0) misuse(fn, "not a reference of this runtime");
    return r;
}

Obj* Vm::deref(ThreadState& t, jobject ref, const char* fn) {
    if (ref == nullptr) return nullptr;
    Ref* r = refOf(ref, fn);
    if (!r->live) misuse(fn, std::string(r->kind == RefKind::Local ? "local" : "global") + " reference used after deletion");
    if (r->kind == RefKind::Local && r->owner != &t) {
        misuse(fn, format("local reference of thread %s used on thread %s", r->owner->name.c_str(), t.name.c_str()));
    }
    return r->obj;
}

Klass* Vm::derefClass(ThreadState& t, jclass ref, const char* fn) {
    Obj* o = deref(t, ref, fn);
    if (o == nullptr) misuse(fn, "null class");
    if (o->kind != ObjKind::Class) misuse(fn, "not a class: " + describe(o));
    return o->meta;
}

Obj* Vm::derefString(ThreadState& t, jstring ref, const char* fn) {
    Obj* o = deref(t, ref, fn);
    if (o == nullptr) misuse(fn, "null string");
    if (o->kind != ObjKind::String) misuse(fn, "not a string: " + describe(o));
    return o;
}

Method* Vm::method(jmethodID id, const char* fn) {
    if (methodIds_.count(id) == 0) misuse(fn, "not a method ID of this runtime");
    return reinterpret_cast<Method*>(id);
}

Field* Vm::field(jfieldID id, const char* fn) {
    if (fieldIds_.count(id) == 0) misuse(fn, "not a field ID of this runtime");
    return reinterpret_cast<Field*>(id);
}

void Vm::pin(const void* buffer, Obj* string, PinKind kind) { pins_[buffer] = {string, kind}; }

void Vm::unpin(const void* buffer, Obj* string, PinKind kind, const char* fn) {
    auto it = pins_.find(buffer);
    if (it == pins_.end()) misuse(fn, "buffer not handed out, or released twice");
    if (it->second.second != kind) misuse(fn, "buffer handed out by the other Get function");
    if (it->second.first != string) misuse(fn, "buffer released with another string");
    pins_.erase(it);
}

void Vm::releaseLocalsSince(ThreadState& t, size_t mark) {
    for (size_t i = mark; i < refs_.size(); ++i) {
        Ref& r = refs_[i];
        if (r.live && r.kind == RefKind::Local && r.owner == &t) {
            r.live = false;
            --t.liveLocals;
        }
    }
}

size_t Vm::liveGlobalCount() const {
    size_t n = 0;
    for (const Ref& r : refs_) {
        if (r.live && r.kind == RefKind::Global) ++n;
    }
    return n;
}

std::string Vm::describe(const Obj* o) {
    if (o == nullptr) return "null";
    if (o->kind == ObjKind::String) return "\"" + utf16ToUtf8(o->text) + "\"";
    if (o->kind == ObjKind::Class) return "class " + o->meta->name;
    // An array shows its elements, so a call's String[] argument reads in the log.
    if (o->kind == ObjKind::Array) {
        std::string text = format("%s#%u[", o->klass ? o->klass->name.c_str() : "?", o->id);
        for (size_t i = 0; i < o->elements.size(); ++i) text += (i ? "," : "") + describe(o->elements[i]);
        return text + "]";
    }
    return format("%s#%u", o->klass ? o->klass->name.c_str() : "?", o->id);
}

std::string Vm::throwableText(const Obj* o) {
    std::string name = o->klass->name;
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    // As Throwable.toString: the class, and ": message" only when there is a message.
    if (o->message == nullptr) return name;
    return name + ": " + utf16ToUtf8(o->message->text);
}

}  // namespace testjvm
