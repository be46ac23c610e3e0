#pragma once
// The few shapes a Java heap needs for the code under test: classes with int and object
// fields and methods, strings, object arrays, sets, throwables, and the references and
// threads through which JNI reaches them. Plain data; Vm owns all of it and guards it.
//
// Nothing is ever collected: an Obj lives until the library unloads, so an Obj* stays
// valid after the lock is released. JNI references, method and field IDs are never reused
// either, which lets a stale one be recognised instead of silently meaning something else.

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testjvm {

struct Klass;
struct Obj;
struct Method;
struct ScriptedClass;
struct ThreadState;
class Vm;

// One argument or result of a Java call: primitives in `prim`, a reference in `obj`.
struct Value {
    jvalue prim{};
    Obj* obj = nullptr;
};

enum class ObjKind { Instance, String, Array, Class };

struct Obj {
    ObjKind kind = ObjKind::Instance;
    Klass* klass = nullptr;      // the object's class: java/lang/String, [Ljava/lang/String;, ...
    std::uint32_t id = 0;        // names the object in the log
    std::vector<Value> fields;   // instance fields, indexed by Field::slot
    std::u16string text;         // String
    std::vector<Obj*> elements;  // object array; the members of a java/util/HashSet
    Obj* message = nullptr;      // Throwable: the detail message (a String) or null
    Klass* meta = nullptr;       // java/lang/Class: the class this object stands for
};

struct Field {
    Klass* owner = nullptr;
    std::string name;
    std::string sig;
    size_t slot = 0;
};

// Runs a method on the calling thread, with the Vm lock NOT held (a method may sleep, start
// threads or, later, call natives that call back into JNI).
using MethodImpl = Value (*)(Vm& vm, ThreadState& thread, const Method& method, Obj* self,
                             const std::vector<Value>& args);

struct Method {
    Klass* owner = nullptr;
    std::string name;
    std::string sig;
    bool isStatic = false;
    std::vector<char> argTypes;  // one letter per argument, 'L' for every reference
    char returnType = 'V';       // likewise, 'V' for void
    MethodImpl impl = nullptr;
};

struct Klass {
    std::string name;  // slashed, or a descriptor for array classes
    Klass* super = nullptr;
    Klass* element = nullptr;  // array classes: the element class
    Obj* mirror = nullptr;     // the java/lang/Class object that jclass references point at
    bool throwable = false;
    size_t fieldCount = 0;     // instance fields including the superclasses'
    const ScriptedClass* scripted = nullptr;
    std::vector<std::unique_ptr<Field>> fields;
    std::vector<std::unique_ptr<Method>> methods;
};

enum class RefKind { Local, Global };

// What a jobject points at. Deleted references stay allocated, marked dead.
struct Ref {
    Obj* obj = nullptr;
    RefKind kind = RefKind::Local;
    ThreadState* owner = nullptr;  // local references belong to one attachment of one thread
    bool live = true;
};

// One attachment of an operating-system thread. A thread that attaches again gets a new
// ThreadState and a new JNIEnv, so an environment kept across a detach is caught.
struct ThreadState {
    JNIEnv_ env{};  // first member: the JNIEnv* handed out is the address of this struct
    unsigned long osThreadId = 0;
    std::string name;
    bool daemon = false;
    bool attached = true;
    Obj* pending = nullptr;  // the pending exception
    size_t liveLocals = 0;
};

}  // namespace testjvm
