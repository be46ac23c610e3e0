// The JNIEnv functions. Each takes the lock, validates what it is given as strictly as a
// checking runtime would (a misuse ends the process with a record of it) and works on the
// model; calls into Java methods drop the lock while the method runs.

#include "EventLog.h"
#include "Text.h"
#include "Unimplemented.h"
#include "Vm.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace testjvm {

namespace {

Vm& theVm() { return Vm::instance(); }

std::string dotted(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

// ---- classes, methods, fields ----

jint JNICALL GetVersion(JNIEnv* env) {
    auto guard = theVm().lock();
    theVm().enter(env, "GetVersion");
    return JNI_VERSION_10;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "FindClass");
    if (name == nullptr) Vm::misuse("FindClass", "null name");
    EventLog::instance().line(std::string("findclass ") + name);
    // A dotted name is never found, as in a real runtime: the caller must use slashes.
    Klass* k = std::strchr(name, '.') ? nullptr : vm.findClass(name);
    if (k == nullptr) {
        std::string msg = name;
        vm.throwNew(t, "java/lang/NoClassDefFoundError", &msg);
        return nullptr;
    }
    return static_cast<jclass>(vm.localRef(t, k->mirror));
}

jclass JNICALL GetSuperclass(JNIEnv* env, jclass cls) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetSuperclass");
    Klass* k = vm.derefClass(t, cls, "GetSuperclass");
    return k->super ? static_cast<jclass>(vm.localRef(t, k->super->mirror)) : nullptr;
}

jboolean JNICALL IsAssignableFrom(JNIEnv* env, jclass sub, jclass sup) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "IsAssignableFrom");
    return Vm::isSubclass(vm.derefClass(t, sub, "IsAssignableFrom"), vm.derefClass(t, sup, "IsAssignableFrom"));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetObjectClass");
    Obj* o = vm.deref(t, obj, "GetObjectClass");
    if (o == nullptr) Vm::misuse("GetObjectClass", "null object");
    return static_cast<jclass>(vm.localRef(t, o->klass->mirror));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass cls) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "IsInstanceOf");
    Obj* o = vm.deref(t, obj, "IsInstanceOf");
    Klass* k = vm.derefClass(t, cls, "IsInstanceOf");
    return o == nullptr || Vm::isSubclass(o->klass, k);
}

jmethodID lookupMethod(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic) {
    const char* fn = isStatic ? "GetStaticMethodID" : "GetMethodID";
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, fn);
    Klass* k = vm.derefClass(t, cls, fn);
    if (name == nullptr || sig == nullptr) Vm::misuse(fn, "null name or signature");
    EventLog::instance().linef("%s %s %s %s", isStatic ? "getstaticmethod" : "getmethod", k->name.c_str(), name, sig);
    Method* m = vm.findMethod(k, name, sig, isStatic);
    if (m == nullptr) {
        std::string msg = name;
        vm.throwNew(t, "java/lang/NoSuchMethodError", &msg);
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(m);
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return lookupMethod(env, cls, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return lookupMethod(env, cls, name, sig, true);
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetFieldID");
    Klass* k = vm.derefClass(t, cls, "GetFieldID");
    if (name == nullptr || sig == nullptr) Vm::misuse("GetFieldID", "null name or signature");
    EventLog::instance().linef("getfield %s %s %s", k->name.c_str(), name, sig);
    Field* f = vm.findField(k, name, sig);
    if (f == nullptr) {
        std::string msg = name;
        vm.throwNew(t, "java/lang/NoSuchFieldError", &msg);
        return nullptr;
    }
    return reinterpret_cast<jfieldID>(f);
}

// ---- calls ----

enum class CallKind { Virtual, Static, Constructor };

struct CallResult {
    Value value;
    ThreadState* thread = nullptr;
    Obj* created = nullptr;
};

// `va` or `array` carries the arguments; `want` is the return letter the caller's function
// promises ('V', 'L', 'Z', 'I').
CallResult invoke(JNIEnv* env, const char* fn, CallKind kind, jobject target, jmethodID mid, char want,
                  va_list* va, const jvalue* array) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, fn);
    Method* m = vm.method(mid, fn);
    if (m->isStatic != (kind == CallKind::Static)) Vm::misuse(fn, "method " + m->name + " is " + (m->isStatic ? "static" : "not static"));
    if ((m->name == "<init>") != (kind == CallKind::Constructor)) Vm::misuse(fn, "method " + m->name + " called through the wrong function");
    if (m->returnType != want) Vm::misuse(fn, format("method %s%s does not return '%c'", m->name.c_str(), m->sig.c_str(), want));

    CallResult result;
    result.thread = &t;
    Obj* self = nullptr;
    if (kind == CallKind::Static) {
        Klass* k = vm.derefClass(t, static_cast<jclass>(target), fn);
        if (!Vm::isSubclass(k, m->owner)) Vm::misuse(fn, "method " + m->name + " is not a method of " + k->name);
    } else if (kind == CallKind::Constructor) {
        Klass* k = vm.derefClass(t, static_cast<jclass>(target), fn);
        if (k != m->owner) Vm::misuse(fn, "constructor of " + m->owner->name + " used for " + k->name);
        self = vm.newInstance(k);
        result.created = self;
    } else {
        self = vm.deref(t, target, fn);
        if (self == nullptr) Vm::misuse(fn, "null object");
        if (!Vm::isSubclass(self->klass, m->owner)) Vm::misuse(fn, "method " + m->name + " is not a method of " + self->klass->name);
        // Virtual dispatch: an override in the object's own class wins.
        if (Method* override = vm.findMethod(self->klass, m->name, m->sig, false)) m = override;
    }

    std::vector<Value> args(m->argTypes.size());
    for (size_t i = 0; i < args.size(); ++i) {
        jvalue& p = args[i].prim;
        char type = m->argTypes[i];
        if (array != nullptr) {
            p = array[i];
        } else {
            switch (type) {
            case 'Z': p.z = static_cast<jboolean>(va_arg(*va, int)); break;
            case 'B': p.b = static_cast<jbyte>(va_arg(*va, int)); break;
            case 'C': p.c = static_cast<jchar>(va_arg(*va, int)); break;
            case 'S': p.s = static_cast<jshort>(va_arg(*va, int)); break;
            case 'I': p.i = va_arg(*va, jint); break;
            case 'J': p.j = va_arg(*va, jlong); break;
            case 'F': p.f = static_cast<jfloat>(va_arg(*va, double)); break;
            case 'D': p.d = va_arg(*va, double); break;
            default: p.l = va_arg(*va, jobject); break;
            }
        }
        if (type == 'L') {
            args[i].obj = vm.deref(t, p.l, fn);
            p.l = nullptr;
        }
    }
    guard.unlock();
    result.value = m->impl(vm, t, *m, self, args);
    return result;
}

jobject objectResult(const CallResult& r) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    Obj* obj = r.created != nullptr ? (r.thread->pending ? nullptr : r.created) : r.value.obj;
    return vm.localRef(*r.thread, obj);
}

#define KVX_TESTJVM_CALLS(Name, Kind, Target, Type, Want, Result)                                      \
    Type JNICALL Name##V(JNIEnv* env, Target target, jmethodID mid, va_list args) {                     \
        va_list copy;                                                                                   \
        va_copy(copy, args);                                                                            \
        CallResult r = invoke(env, #Name "V", CallKind::Kind, target, mid, Want, &copy, nullptr);       \
        va_end(copy);                                                                                   \
        return Result;                                                                                  \
    }                                                                                                   \
    Type JNICALL Name##A(JNIEnv* env, Target target, jmethodID mid, const jvalue* args) {               \
        CallResult r = invoke(env, #Name "A", CallKind::Kind, target, mid, Want, nullptr, args);        \
        return Result;                                                                                  \
    }                                                                                                   \
    Type JNICALL Name(JNIEnv* env, Target target, jmethodID mid, ...) {                                 \
        va_list args;                                                                                   \
        va_start(args, mid);                                                                            \
        CallResult r = invoke(env, #Name, CallKind::Kind, target, mid, Want, &args, nullptr);          \
        va_end(args);                                                                                   \
        return Result;                                                                                  \
    }

#define KVX_TESTJVM_VOID_CALLS(Name, Kind, Target)                                                      \
    void JNICALL Name##V(JNIEnv* env, Target target, jmethodID mid, va_list args) {                     \
        va_list copy;                                                                                   \
        va_copy(copy, args);                                                                            \
        invoke(env, #Name "V", CallKind::Kind, target, mid, 'V', &copy, nullptr);                       \
        va_end(copy);                                                                                   \
    }                                                                                                   \
    void JNICALL Name##A(JNIEnv* env, Target target, jmethodID mid, const jvalue* args) {               \
        invoke(env, #Name "A", CallKind::Kind, target, mid, 'V', nullptr, args);                        \
    }                                                                                                   \
    void JNICALL Name(JNIEnv* env, Target target, jmethodID mid, ...) {                                 \
        va_list args;                                                                                   \
        va_start(args, mid);                                                                            \
        invoke(env, #Name, CallKind::Kind, target, mid, 'V', &args, nullptr);                           \
        va_end(args);                                                                                   \
    }

KVX_TESTJVM_CALLS(NewObject, Constructor, jclass, jobject, 'V', objectResult(r))
KVX_TESTJVM_CALLS(CallObjectMethod, Virtual, jobject, jobject, 'L', objectResult(r))
KVX_TESTJVM_CALLS(CallBooleanMethod, Virtual, jobject, jboolean, 'Z', r.value.prim.z)
KVX_TESTJVM_CALLS(CallIntMethod, Virtual, jobject, jint, 'I', r.value.prim.i)
KVX_TESTJVM_VOID_CALLS(CallVoidMethod, Virtual, jobject)
KVX_TESTJVM_CALLS(CallStaticObjectMethod, Static, jclass, jobject, 'L', objectResult(r))
KVX_TESTJVM_CALLS(CallStaticBooleanMethod, Static, jclass, jboolean, 'Z', r.value.prim.z)
KVX_TESTJVM_CALLS(CallStaticIntMethod, Static, jclass, jint, 'I', r.value.prim.i)
KVX_TESTJVM_VOID_CALLS(CallStaticVoidMethod, Static, jclass)

// ---- fields ----

// The object and field of a field access, checked against each other and the access type.
std::pair<Obj*, Field*> fieldAccess(ThreadState& t, jobject obj, jfieldID id, bool wantObject, const char* fn) {
    Vm& vm = theVm();
    Obj* o = vm.deref(t, obj, fn);
    if (o == nullptr) Vm::misuse(fn, "null object");
    Field* f = vm.field(id, fn);
    if (!Vm::isSubclass(o->klass, f->owner)) Vm::misuse(fn, "field " + f->name + " is not a field of " + o->klass->name);
    bool isObject = f->sig[0] == 'L' || f->sig[0] == '[';
    if (wantObject ? !isObject : f->sig != "I") Vm::misuse(fn, "field " + f->name + " has type " + f->sig);
    return {o, f};
}

jint JNICALL GetIntField(JNIEnv* env, jobject obj, jfieldID id) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetIntField");
    auto [o, f] = fieldAccess(t, obj, id, false, "GetIntField");
    return o->fields[f->slot].prim.i;
}

void JNICALL SetIntField(JNIEnv* env, jobject obj, jfieldID id, jint value) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "SetIntField");
    auto [o, f] = fieldAccess(t, obj, id, false, "SetIntField");
    o->fields[f->slot].prim.i = value;
}

jobject JNICALL GetObjectField(JNIEnv* env, jobject obj, jfieldID id) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetObjectField");
    auto [o, f] = fieldAccess(t, obj, id, true, "GetObjectField");
    return vm.localRef(t, o->fields[f->slot].obj);
}

void JNICALL SetObjectField(JNIEnv* env, jobject obj, jfieldID id, jobject value) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "SetObjectField");
    auto [o, f] = fieldAccess(t, obj, id, true, "SetObjectField");
    Obj* v = vm.deref(t, value, "SetObjectField");
    if (v != nullptr && f->sig[0] == 'L') {
        Klass* type = vm.findClass(std::string_view(f->sig).substr(1, f->sig.size() - 2));
        if (type != nullptr && !Vm::isSubclass(v->klass, type)) {
            Vm::misuse("SetObjectField", vm.describe(v) + " stored in field " + f->name + " of type " + f->sig);
        }
    }
    o->fields[f->slot].obj = v;
}

// ---- exceptions ----

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "Throw");
    Obj* o = vm.deref(t, obj, "Throw");
    if (o == nullptr || !o->klass->throwable) Vm::misuse("Throw", "not a throwable: " + vm.describe(o));
    t.pending = o;
    return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass cls, const char* msg) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ThrowNew");
    Klass* k = vm.derefClass(t, cls, "ThrowNew");
    if (!k->throwable) Vm::misuse("ThrowNew", "not a throwable class: " + k->name);
    t.pending = vm.newThrowable(k, msg ? vm.newString(utf8ToUtf16(msg)) : nullptr);
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ExceptionOccurred", true);
    return static_cast<jthrowable>(vm.localRef(t, t.pending));
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ExceptionDescribe", true);
    if (t.pending == nullptr) return;
    std::string text = vm.throwableText(t.pending);
    EventLog::instance().line("exception-describe " + text);
    // What a runtime prints: the throwable and its stack, on standard error.
    EventLog::toStderr("Exception in thread \"" + t.name + "\" " + text + "\n\tat " +
                       dotted(t.pending->klass->name) + ".<init>(testjvm)\n");
    t.pending = nullptr;
}

void JNICALL ExceptionClear(JNIEnv* env) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ExceptionClear", true);
    t.pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ExceptionCheck", true);
    return t.pending != nullptr;
}

// ---- references ----

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject obj) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "NewGlobalRef");
    return vm.globalRef(vm.deref(t, obj, "NewGlobalRef"));
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    vm.enter(env, "DeleteGlobalRef", true);
    if (ref == nullptr) return;
    Ref* r = vm.refOf(ref, "DeleteGlobalRef");
    if (r->kind != RefKind::Global) Vm::misuse("DeleteGlobalRef", "a local reference");
    if (!r->live) Vm::misuse("DeleteGlobalRef", "deleted twice");
    r->live = false;
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject obj) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "NewLocalRef");
    return vm.localRef(t, vm.deref(t, obj, "NewLocalRef"));
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "DeleteLocalRef", true);
    if (ref == nullptr) return;
    Ref* r = vm.refOf(ref, "DeleteLocalRef");
    if (r->kind != RefKind::Local) Vm::misuse("DeleteLocalRef", "a global reference");
    if (!r->live) Vm::misuse("DeleteLocalRef", "deleted twice");
    if (r->owner != &t) Vm::misuse("DeleteLocalRef", "local reference of thread " + r->owner->name);
    r->live = false;
    --t.liveLocals;
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    vm.enter(env, "EnsureLocalCapacity");
    return capacity < 0 ? JNI_ERR : JNI_OK;  // local references are never exhausted here
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "IsSameObject");
    return vm.deref(t, a, "IsSameObject") == vm.deref(t, b, "IsSameObject");
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** out) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    vm.enter(env, "GetJavaVM");
    if (out == nullptr) Vm::misuse("GetJavaVM", "null result pointer");
    *out = &vm.javaVm;
    return JNI_OK;
}

// ---- strings ----

jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "NewString");
    if (length < 0 || (units == nullptr && length > 0)) Vm::misuse("NewString", format("bad text (length %d)", static_cast<int>(length)));
    std::u16string text(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
    return static_cast<jstring>(vm.localRef(t, vm.newString(std::move(text))));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "NewStringUTF");
    if (utf == nullptr) return nullptr;
    return static_cast<jstring>(vm.localRef(t, vm.newString(utf8ToUtf16(utf))));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetStringLength");
    return static_cast<jsize>(vm.derefString(t, str, "GetStringLength")->text.size());
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetStringChars");
    Obj* s = vm.derefString(t, str, "GetStringChars");
    size_t n = s->text.size();
    auto* copy = new jchar[n + 2];
    std::memcpy(copy, s->text.data(), n * sizeof(jchar));
    // The units need not be zero-terminated; a visible mark right after them shows up in
    // the text of a caller that relies on a terminator instead of the length.
    copy[n] = 0xFFFD;
    copy[n + 1] = 0;
    vm.pin(copy, s, Vm::PinKind::Chars);
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ReleaseStringChars", true);
    Obj* s = vm.derefString(t, str, "ReleaseStringChars");
    vm.unpin(chars, s, Vm::PinKind::Chars, "ReleaseStringChars");
    delete[] chars;
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetStringUTFLength");
    return static_cast<jsize>(utf16ToModifiedUtf8(vm.derefString(t, str, "GetStringUTFLength")->text).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetStringUTFChars");
    Obj* s = vm.derefString(t, str, "GetStringUTFChars");
    std::string bytes = utf16ToModifiedUtf8(s->text);
    auto* copy = new char[bytes.size() + 1];
    std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    vm.pin(copy, s, Vm::PinKind::Utf);
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "ReleaseStringUTFChars", true);
    Obj* s = vm.derefString(t, str, "ReleaseStringUTFChars");
    vm.unpin(chars, s, Vm::PinKind::Utf, "ReleaseStringUTFChars");
    delete[] chars;
}

// ---- arrays ----

Obj* checkedArray(Vm& vm, ThreadState& t, jobjectArray ref, const char* fn) {
    Obj* a = vm.deref(t, ref, fn);
    if (a == nullptr) Vm::misuse(fn, "null array");
    if (a->kind != ObjKind::Array) Vm::misuse(fn, "not an array: " + vm.describe(a));
    return a;
}

// False, with ArrayIndexOutOfBoundsException pending, for an index outside the array.
bool inBounds(Vm& vm, ThreadState& t, const Obj* a, jsize index) {
    if (index >= 0 && static_cast<size_t>(index) < a->elements.size()) return true;
    std::string msg = format("Index %d out of bounds for length %u", static_cast<int>(index),
                             static_cast<unsigned>(a->elements.size()));
    vm.throwNew(t, "java/lang/ArrayIndexOutOfBoundsException", &msg);
    return false;
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetArrayLength");
    return static_cast<jsize>(checkedArray(vm, t, static_cast<jobjectArray>(array), "GetArrayLength")->elements.size());
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "NewObjectArray");
    Klass* element = vm.derefClass(t, elementClass, "NewObjectArray");
    Obj* init = vm.deref(t, initial, "NewObjectArray");
    if (length < 0) {
        std::string msg = std::to_string(length);
        vm.throwNew(t, "java/lang/NegativeArraySizeException", &msg);
        return nullptr;
    }
    Obj* a = vm.newArray(element, static_cast<size_t>(length));
    for (Obj*& e : a->elements) e = init;
    return static_cast<jobjectArray>(vm.localRef(t, a));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "GetObjectArrayElement");
    Obj* a = checkedArray(vm, t, array, "GetObjectArrayElement");
    if (!inBounds(vm, t, a, index)) return nullptr;
    return vm.localRef(t, a->elements[static_cast<size_t>(index)]);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    Vm& vm = theVm();
    auto guard = vm.lock();
    ThreadState& t = vm.enter(env, "SetObjectArrayElement");
    Obj* a = checkedArray(vm, t, array, "SetObjectArrayElement");
    Obj* v = vm.deref(t, value, "SetObjectArrayElement");
    if (!inBounds(vm, t, a, index)) return;
    if (v != nullptr && !Vm::isSubclass(v->klass, a->klass->element)) {
        std::string msg = dotted(v->klass->name);
        vm.throwNew(t, "java/lang/ArrayStoreException", &msg);
        return;
    }
    a->elements[static_cast<size_t>(index)] = v;
}

JNINativeInterface_ buildTable() {
    JNINativeInterface_ table{};
    fillWithTraps(table);
    table.GetVersion = GetVersion;
    table.FindClass = FindClass;
    table.GetSuperclass = GetSuperclass;
    table.IsAssignableFrom = IsAssignableFrom;
    table.Throw = Throw;
    table.ThrowNew = ThrowNew;
    table.ExceptionOccurred = ExceptionOccurred;
    table.ExceptionDescribe = ExceptionDescribe;
    table.ExceptionClear = ExceptionClear;
    table.NewGlobalRef = NewGlobalRef;
    table.DeleteGlobalRef = DeleteGlobalRef;
    table.DeleteLocalRef = DeleteLocalRef;
    table.IsSameObject = IsSameObject;
    table.NewLocalRef = NewLocalRef;
    table.EnsureLocalCapacity = EnsureLocalCapacity;
    table.NewObject = NewObject;
    table.NewObjectV = NewObjectV;
    table.NewObjectA = NewObjectA;
    table.GetObjectClass = GetObjectClass;
    table.IsInstanceOf = IsInstanceOf;
    table.GetMethodID = GetMethodID;
    table.CallObjectMethod = CallObjectMethod;
    table.CallObjectMethodV = CallObjectMethodV;
    table.CallObjectMethodA = CallObjectMethodA;
    table.CallBooleanMethod = CallBooleanMethod;
    table.CallBooleanMethodV = CallBooleanMethodV;
    table.CallBooleanMethodA = CallBooleanMethodA;
    table.CallIntMethod = CallIntMethod;
    table.CallIntMethodV = CallIntMethodV;
    table.CallIntMethodA = CallIntMethodA;
    table.CallVoidMethod = CallVoidMethod;
    table.CallVoidMethodV = CallVoidMethodV;
    table.CallVoidMethodA = CallVoidMethodA;
    table.GetFieldID = GetFieldID;
    table.GetObjectField = GetObjectField;
    table.GetIntField = GetIntField;
    table.SetObjectField = SetObjectField;
    table.SetIntField = SetIntField;
    table.GetStaticMethodID = GetStaticMethodID;
    table.CallStaticObjectMethod = CallStaticObjectMethod;
    table.CallStaticObjectMethodV = CallStaticObjectMethodV;
    table.CallStaticObjectMethodA = CallStaticObjectMethodA;
    table.CallStaticBooleanMethod = CallStaticBooleanMethod;
    table.CallStaticBooleanMethodV = CallStaticBooleanMethodV;
    table.CallStaticBooleanMethodA = CallStaticBooleanMethodA;
    table.CallStaticIntMethod = CallStaticIntMethod;
    table.CallStaticIntMethodV = CallStaticIntMethodV;
    table.CallStaticIntMethodA = CallStaticIntMethodA;
    table.CallStaticVoidMethod = CallStaticVoidMethod;
    table.CallStaticVoidMethodV = CallStaticVoidMethodV;
    table.CallStaticVoidMethodA = CallStaticVoidMethodA;
    table.NewString = NewString;
    table.GetStringLength = GetStringLength;
    table.GetStringChars = GetStringChars;
    table.ReleaseStringChars = ReleaseStringChars;
    table.NewStringUTF = NewStringUTF;
    table.GetStringUTFLength = GetStringUTFLength;
    table.GetStringUTFChars = GetStringUTFChars;
    table.ReleaseStringUTFChars = ReleaseStringUTFChars;
    table.GetArrayLength = GetArrayLength;
    table.NewObjectArray = NewObjectArray;
    table.GetObjectArrayElement = GetObjectArrayElement;
    table.SetObjectArrayElement = SetObjectArrayElement;
    table.GetJavaVM = GetJavaVM;
    table.ExceptionCheck = ExceptionCheck;
    return table;
}

}  // namespace

const JNINativeInterface_* nativeInterface() {
    static const JNINativeInterface_ table = buildTable();
    return &table;
}

}  // namespace testjvm
