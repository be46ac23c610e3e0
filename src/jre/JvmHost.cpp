#include "jre/JvmHost.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/GrowBuffer.h"
#include "base/Trace.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/JavaRuntime.h"

namespace kvx {

namespace {

constexpr const char* CREATE_ENTRY_POINT = "JNI_CreateJavaVM";
constexpr jint REQUESTED_JNI_VERSION = JNI_VERSION_1_2;
constexpr const char* SEARCH_PATH_VARIABLE = "PATH";
constexpr const char* PARENT_DIRECTORY = "..";
constexpr const char* SYSTEM_CLASS = "java/lang/System";
constexpr const char* GET_PROPERTY_METHOD = "getProperty";
constexpr const char* GET_PROPERTY_SIGNATURE = "(Ljava/lang/String;)Ljava/lang/String;";
// Java's own version first: java.vm.version is the virtual machine's number, which on
// HotSpot 7 and 8 reads 24.x and 25.x. The machine's number only stands in when a runtime
// does not report java.version.
constexpr const char* JAVA_VERSION_PROPERTY = "java.version";
constexpr const char* VM_VERSION_PROPERTY = "java.vm.version";
constexpr const char* MAIN_METHOD = "main";
constexpr const char* MAIN_SIGNATURE = "([Ljava/lang/String;)V";
constexpr const char* STRING_CLASS = "java/lang/String";

typedef jint(JNICALL* CreateJavaVmFunction)(JavaVM** vm, void** env, void* args);

static_assert(sizeof(jchar) == sizeof(uint16_t), "Java strings are UTF-16 units");

JvmHost* currentHost = nullptr;

// The hook of the live virtual machine; taken once, by whichever end comes first.
std::atomic<JvmHost::ExitHook> armedExitHook{nullptr};

void runArmedExitHook() {
    JvmHost::ExitHook hook = armedExitHook.exchange(nullptr);
    if (hook) hook(-1);
}

// A JNI local reference, deleted when the scope ends. The main thread is attached for the
// whole life of the VM and never returns to Java, so nothing else would ever free it.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    T ref_;
};

// The UTF-16 units of a Java string, given back when the scope ends.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring text)
        : env_(env), text_(text), units_(text ? env->GetStringChars(text, nullptr) : nullptr) {}
    ~StringChars() {
        if (units_) env_->ReleaseStringChars(text_, units_);
    }
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;

    const uint16_t* units() const { return reinterpret_cast<const uint16_t*>(units_); }

private:
    JNIEnv* env_;
    jstring text_;
    const jchar* units_;
};

// Clears a pending exception, printing it first on the runtime's standard error when
// `describe` is set. The throwable's own local reference is released too.
void clearPendingException(JNIEnv* env, bool describe) {
    LocalRef<jthrowable> pending(env, env->ExceptionOccurred());
    if (!pending) return;
    if (describe) env->ExceptionDescribe();
    env->ExceptionClear();
}

// Hands the exception thrown out of main to its thread's uncaught-exception handler, as java
// does when main's thread ends: the application's own handler (Thread.setDefaultUncaught-
// ExceptionHandler) reports it, else the thread group prints "Exception in thread ...".
// False, with the exception pending again, when no handler can be reached.
bool dispatchUncaught(JNIEnv* env) {
    LocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    if (!thrown) return true;
    env->ExceptionClear();
    // Each lookup runs only when the one before succeeded, so no call meets a pending exception.
    LocalRef<jclass> threadClass(env, env->FindClass("java/lang/Thread"));
    jmethodID current =
        threadClass ? env->GetStaticMethodID(threadClass.get(), "currentThread", "()Ljava/lang/Thread;") : nullptr;
    LocalRef<jobject> thread(env, current ? env->CallStaticObjectMethod(threadClass.get(), current) : nullptr);
    jmethodID getHandler =
        thread ? env->GetMethodID(threadClass.get(), "getUncaughtExceptionHandler",
                                  "()Ljava/lang/Thread$UncaughtExceptionHandler;")
               : nullptr;
    LocalRef<jobject> handler(env, getHandler ? env->CallObjectMethod(thread.get(), getHandler) : nullptr);
    LocalRef<jclass> handlerClass(env, handler ? env->GetObjectClass(handler.get()) : nullptr);
    jmethodID uncaught = handlerClass ? env->GetMethodID(handlerClass.get(), "uncaughtException",
                                                         "(Ljava/lang/Thread;Ljava/lang/Throwable;)V")
                                      : nullptr;
    if (!uncaught) {
        env->ExceptionClear();
        env->Throw(thrown.get());
        return false;
    }
    env->CallVoidMethod(handler.get(), uncaught, thread.get(), thrown.get());
    env->ExceptionClear();  // what the handler itself throws is dropped, as java drops it
    return true;
}

// The parent of the library's directory: the directory part up to its last "\" or "/" (the
// runtime's path may mix them), followed by "..".
AppString libraryParentDirectory(const char* libraryPath) {
    const char* path = libraryPath ? libraryPath : "";
    int32_t directoryLength = 0;
    for (int32_t i = 0; path[i] != '\0'; ++i) {
        if (platform::isLibraryDirSeparator(path[i])) directoryLength = i + 1;
    }
    AppString directory(path, directoryLength);
    directory.append(PARENT_DIRECTORY);
    return directory;
}

// Puts `directory` at the end of PATH, so that the Java application and its children
// inherit it (the runtime's bin directory, where msvcr*.dll and friends live).
void appendToPath(const AppString& directory) {
    AppString value;
    platform::getEnv(SEARCH_PATH_VARIABLE, value);  // empty when unset
    value.appendChar(platform::pathListSeparator());
    value.append(directory);
    platform::setEnv(SEARCH_PATH_VARIABLE, value.c_str());
}

// Asks System.getProperty(`name`); true with `out` replaced when a string came back. Any
// exception is cleared before the result is looked at.
bool readSystemProperty(JNIEnv* env, jclass system, jmethodID getProperty, const char* name, AppString& out) {
    LocalRef<jstring> key(env, env->NewStringUTF(name));
    if (!key) {
        clearPendingException(env, false);
        return false;
    }
    // The variadic table entries themselves (the C++ wrappers would go through the ...V forms).
    LocalRef<jobject> result(env, env->functions->CallStaticObjectMethod(env, system, getProperty, key.get()));
    if (env->ExceptionCheck()) {
        clearPendingException(env, false);
        return false;
    }
    if (!result) return false;
    jstring text = static_cast<jstring>(result.get());
    StringChars units(env, text);
    if (!units.units()) {
        clearPendingException(env, false);
        return false;
    }
    out.assignWide(units.units(), env->GetStringLength(text));
    return !out.isEmpty();
}

// String[] of `args`, handed over as the UTF-16 units they are; null (with any exception
// cleared) when it cannot be built.
jobjectArray newArgumentArray(JNIEnv* env, const WideStringList& args) {
    LocalRef<jclass> stringClass(env, env->FindClass(STRING_CLASS));
    if (!stringClass) return nullptr;
    jobjectArray array = env->NewObjectArray(args.count(), stringClass.get(), nullptr);
    if (!array) return nullptr;
    for (int32_t i = 0; i < args.count(); ++i) {
        LocalRef<jstring> element(
            env, env->NewString(reinterpret_cast<const jchar*>(args.entry(i)), args.entryLength(i)));
        if (!element) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, i, element.get());
    }
    return array;
}

}  // namespace

JvmHost* currentJvmHost() { return currentHost; }

void setCurrentJvmHost(JvmHost* host) { currentHost = host; }

JvmHost::~JvmHost() {
    unload();
    options_.release();
}

void JvmHost::addOption(const char* text) { options_.add(text); }

LaunchError JvmHost::create(const char* path) {
    // Only one virtual machine per process; reloading the library under a live one would
    // pull its code away.
    if (vm_) return LAUNCH_VM_CREATE_FAILED;

    platform::suppressLoaderErrorDialogs();
    // No runtime was found: there is nothing to load, and no folder to put on PATH.
    if (!path || !*path) return LAUNCH_JRE_NOT_FOUND;
    // A library planted in the working directory must not be loaded as a dependency; the
    // runtime's bin folder (above the library's own) serves the runtime's libraries instead.
    const AppString parent = libraryParentDirectory(path);
    // A bare name has no folder of its own: ".." would name the working directory's parent.
    const bool bare = parent.length() == static_cast<int32_t>(std::strlen(PARENT_DIRECTORY));
    platform::searchRuntimeFolderInsteadOfCurrentDirectory(bare ? "" : parent.c_str());

    if (!library_.load(path)) {
        trace("load %s failed; retrying with its parent directory", path);
        appendToPath(parent);
        platform::addLibrarySearchDirectory(parent.c_str());
        if (!library_.load(path)) {
            trace("load %s failed again", path);
            return LAUNCH_JRE_NOT_FOUND;
        }
    }

    auto createJavaVm = reinterpret_cast<CreateJavaVmFunction>(library_.symbol(CREATE_ENTRY_POINT));
    if (!createJavaVm) {
        trace("%s exports no %s", path, CREATE_ENTRY_POINT);
        return LAUNCH_JRE_NOT_VALID;
    }

    // The array points into the option list's own buffer; it lives for this call only.
    const int32_t count = options_.count();
    GrowBuffer<JavaVMOption> optionArray;
    optionArray.setLength(count);
    if (optionArray.length() != count) {
        // Out of memory before the call: a VM without some of its options must not start.
        options_.release();
        return LAUNCH_VM_CREATE_FAILED;
    }
    for (int32_t i = 0; i < count; ++i) {
        optionArray.data()[i].optionString = const_cast<char*>(options_.entry(i));
        optionArray.data()[i].extraInfo = nullptr;
        trace("option %s", options_.entry(i));
    }

    JavaVMInitArgs initArgs;
    initArgs.version = REQUESTED_JNI_VERSION;
    initArgs.nOptions = count;
    initArgs.options = optionArray.data();
    initArgs.ignoreUnrecognized = JNI_TRUE;

    jint result = createJavaVm(&vm_, reinterpret_cast<void**>(&env_), &initArgs);

    options_.release();
    if (result != JNI_OK) {
        trace("JNI_CreateJavaVM returned %d", static_cast<int>(result));
        vm_ = nullptr;
        env_ = nullptr;
        return LAUNCH_VM_CREATE_FAILED;
    }
    if (exitHook_) {
        // The runtime's C library is loaded now. Registered once per process; unload disarms.
        static bool registered = false;
        armedExitHook.store(exitHook_);
        if (!registered) registered = platform::runWhenRuntimeExits(runArmedExitHook);
        if (!registered) trace("no C library of the runtime found: nothing runs if Java ends the process");
    }
    return LAUNCH_OK;
}

bool JvmHost::queryVmVersion(AppString& out) {
    if (!env_) return false;
    JNIEnv* env = env_;

    LocalRef<jclass> system(env, env->FindClass(SYSTEM_CLASS));
    if (!system) {
        clearPendingException(env, false);
        return false;
    }
    jmethodID getProperty = env->GetStaticMethodID(system.get(), GET_PROPERTY_METHOD, GET_PROPERTY_SIGNATURE);
    if (!getProperty) {
        clearPendingException(env, false);
        return false;
    }
    if (!readSystemProperty(env, system.get(), getProperty, JAVA_VERSION_PROPERTY, out)) {
        trace("java.version not reported; reading java.vm.version");
        readSystemProperty(env, system.get(), getProperty, VM_VERSION_PROPERTY, out);
    }
    return true;
}

LaunchError JvmHost::runMain(const char* className, const WideStringList& args) {
    if (!env_) return LAUNCH_MAIN_CLASS_NOT_FOUND;
    JNIEnv* env = env_;

    AppString slashedName(className);
    for (int32_t i = 0; i < slashedName.length(); ++i) {
        if (slashedName.data()[i] == '.') slashedName.data()[i] = '/';
    }
    LocalRef<jclass> mainClass(env, env->FindClass(slashedName.c_str()));
    if (!mainClass) {
        clearPendingException(env, true);
        return LAUNCH_MAIN_CLASS_NOT_FOUND;
    }
    jmethodID main = env->GetStaticMethodID(mainClass.get(), MAIN_METHOD, MAIN_SIGNATURE);
    if (!main) {
        clearPendingException(env, true);
        return LAUNCH_MAIN_METHOD_MISSING;
    }

    LocalRef<jobjectArray> arguments(env, newArgumentArray(env, args));
    if (!arguments) {
        // Only exhausted memory gets here; main must not run with missing arguments.
        clearPendingException(env, true);
        return LAUNCH_VM_INIT_FAILED;
    }

    if (vmHook_) vmHook_(vm_);
    env->functions->CallStaticVoidMethod(env, mainClass.get(), main, arguments.get());
    // An exception thrown out of main is the application's own ending, not a launch failure;
    // the process still reports it, as java does, through its exit code.
    mainThrew_ = env->ExceptionCheck() == JNI_TRUE;
    if (mainThrew_ && !dispatchUncaught(env)) clearPendingException(env, true);
    return LAUNCH_OK;
}

void JvmHost::unload() {
    // Past this point the process ends through this program, which does that work itself.
    armedExitHook.store(nullptr);
    if (vm_) {
        vm_->DetachCurrentThread();
        vm_->DestroyJavaVM();
        vm_ = nullptr;
        if (vmHook_) vmHook_(nullptr);
    }
    library_.unload();
}

}  // namespace kvx
