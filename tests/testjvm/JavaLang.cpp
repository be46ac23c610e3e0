// The classes every runtime has and the code under test relies on: java.lang.Object,
// Class, String, System (getProperty, exit), the common throwables and java.util.HashSet.

#include "EventLog.h"
#include "Text.h"
#include "Vm.h"

namespace testjvm {

namespace {

Value doNothing(Vm&, ThreadState&, const Method&, Obj*, const std::vector<Value>&) { return {}; }

// System.exit(int), as a launcher calls it through JNI to end the application.
Value systemExitCall(Vm& vm, ThreadState&, const Method&, Obj*, const std::vector<Value>& args) {
    const long code = args[0].prim.i;
    EventLog::instance().linef("exit %ld", code);
    systemExit(vm, code);
}

Value throwableInitWithMessage(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>& args) {
    auto guard = vm.lock();
    self->message = args[0].obj;
    return {};
}

Value throwableGetMessage(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>&) {
    auto guard = vm.lock();
    Value v;
    v.obj = self->message;
    return v;
}

Value stringLength(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>&) {
    auto guard = vm.lock();
    Value v;
    v.prim.i = static_cast<jint>(self->text.size());
    return v;
}

Value systemGetProperty(Vm& vm, ThreadState& t, const Method&, Obj*, const std::vector<Value>& args) {
    auto guard = vm.lock();
    Obj* key = args[0].obj;
    if (key == nullptr) {
        std::string msg = "key can't be null";
        vm.throwNew(t, "java/lang/NullPointerException", &msg);
        return {};
    }
    if (key->kind != ObjKind::String) {
        std::string msg = "class " + key->klass->name + " cannot be cast to class java.lang.String";
        vm.throwNew(t, "java/lang/ClassCastException", &msg);
        return {};
    }
    std::string name = utf16ToUtf8(key->text);
    EventLog::instance().line("getproperty " + name);
    Value v;
    if (name == "java.vm.version") {
        const Script& s = vm.script;
        if (s.versionMode == Script::Version::Text) v.obj = vm.newString(utf8ToUtf16(s.version));
        if (s.versionMode == Script::Version::Throws) {
            vm.throwNew(t, s.versionThrowClass, s.versionThrowHasMessage ? &s.versionThrowMessage : nullptr);
        }
        return v;
    }
    if (name == "java.version") {
        if (vm.script.hasJavaVersion) v.obj = vm.newString(utf8ToUtf16(vm.script.javaVersion));
        return v;
    }
    auto it = vm.properties.find(name);
    if (it != vm.properties.end()) v.obj = vm.newString(utf8ToUtf16(it->second));
    return v;
}

// Members are compared as HashSet compares them for these classes: strings by their text,
// everything else by identity.
bool sameMember(const Obj* a, const Obj* b) {
    if (a == b) return true;
    return a != nullptr && b != nullptr && a->kind == ObjKind::String && b->kind == ObjKind::String && a->text == b->text;
}

Value hashSetAdd(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>& args) {
    auto guard = vm.lock();
    Value v;
    for (Obj* member : self->elements) {
        if (sameMember(member, args[0].obj)) {
            EventLog::instance().line("hashset-add " + vm.describe(self) + " " + vm.describe(args[0].obj) + " present");
            return v;
        }
    }
    self->elements.push_back(args[0].obj);
    EventLog::instance().line("hashset-add " + vm.describe(self) + " " + vm.describe(args[0].obj) + " added");
    v.prim.z = JNI_TRUE;
    return v;
}

Value hashSetContains(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>& args) {
    auto guard = vm.lock();
    Value v;
    for (Obj* member : self->elements) {
        if (sameMember(member, args[0].obj)) v.prim.z = JNI_TRUE;
    }
    return v;
}

Value hashSetSize(Vm& vm, ThreadState&, const Method&, Obj* self, const std::vector<Value>&) {
    auto guard = vm.lock();
    Value v;
    v.prim.i = static_cast<jint>(self->elements.size());
    return v;
}

}  // namespace

void addThrowableConstructors(Vm& vm, Klass* k) {
    vm.addMethod(k, "<init>", "()V", false, doNothing);
    vm.addMethod(k, "<init>", "(Ljava/lang/String;)V", false, throwableInitWithMessage);
}

void defineBootClasses(Vm& vm) {
    Klass* object = vm.defineClass("java/lang/Object", nullptr);
    Klass* classClass = vm.defineClass("java/lang/Class", object);
    // Both were defined before java/lang/Class existed: give their mirrors their class now.
    object->mirror->klass = classClass;
    classClass->mirror->klass = classClass;
    vm.addMethod(object, "<init>", "()V", false, doNothing);

    Klass* string = vm.defineClass("java/lang/String", object);
    vm.addMethod(string, "length", "()I", false, stringLength);

    Klass* system = vm.defineClass("java/lang/System", object);
    if (vm.script.versionMode != Script::Version::Fail) {
        vm.addMethod(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", true, systemGetProperty);
    }
    vm.addMethod(system, "exit", "(I)V", true, systemExitCall);

    Klass* throwable = vm.defineClass("java/lang/Throwable", object);
    throwable->throwable = true;
    vm.addMethod(throwable, "getMessage", "()Ljava/lang/String;", false, throwableGetMessage);
    static const char* const THROWABLES[][2] = {
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/ReflectiveOperationException", "java/lang/Exception"},
        {"java/lang/ClassNotFoundException", "java/lang/ReflectiveOperationException"},
        {"java/lang/InstantiationException", "java/lang/ReflectiveOperationException"},
        {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
        {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
        {"java/lang/NullPointerException", "java/lang/RuntimeException"},
        {"java/lang/ClassCastException", "java/lang/RuntimeException"},
        {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
        {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
        {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
        {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/lang/UnsatisfiedLinkError", "java/lang/LinkageError"},
        {"java/lang/ExceptionInInitializerError", "java/lang/LinkageError"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/VirtualMachineError", "java/lang/Error"},
        {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
    };
    std::vector<Klass*> all{throwable};
    for (const auto& pair : THROWABLES) all.push_back(vm.defineClass(pair[0], vm.findClass(pair[1])));
    for (Klass* k : all) addThrowableConstructors(vm, k);

    Klass* hashSet = vm.defineClass("java/util/HashSet", object);
    vm.addMethod(hashSet, "<init>", "()V", false, doNothing);
    vm.addMethod(hashSet, "add", "(Ljava/lang/Object;)Z", false, hashSetAdd);
    vm.addMethod(hashSet, "contains", "(Ljava/lang/Object;)Z", false, hashSetContains);
    vm.addMethod(hashSet, "size", "()I", false, hashSetSize);
}

}  // namespace testjvm
