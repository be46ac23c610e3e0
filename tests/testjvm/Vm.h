#pragma once
// The one virtual machine of the process: its heap, references, threads, options and the
// script it acts out. Every JNI entry takes `lock()` for its work on the model and drops it
// before running a method, so a Java method may block while other threads use JNI.

#include "ObjectModel.h"
#include "Script.h"

#include <jni.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace testjvm {

class Vm {
public:
    enum class State { Fresh, Running, Destroyed };
    enum class PinKind { Chars, Utf };

    static Vm& instance();
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }

    // ---- everything below requires the lock ----

    // Validates `env` as the calling thread's live environment; ends the process otherwise.
    // Unless `exceptionSafe`, a pending exception is recorded as a JNI warning.
    ThreadState& enter(JNIEnv* env, const char* fn, bool exceptionSafe = false);
    // Records the misuse and ends the process with EXIT_JNI_MISUSE.
    [[noreturn]] static void misuse(const char* fn, const std::string& detail);

    // Once the runtime is ending, blocks a thread other than the ending one for good, after
    // recording "halted FN"; the lock is given up first, so the others go on.
    void haltIfEnding(const char* fn);
    // Marks the runtime as ending, on the calling thread.
    void beginEnding();

    ThreadState& attachThread(const std::string& name, bool daemon, unsigned long osThreadId);
    void detachThread(ThreadState& thread);
    ThreadState* currentThread();  // the calling thread's attachment, or null
    size_t otherNonDaemonThreads(const ThreadState* self) const;

    Klass* findClass(std::string_view name);  // null when unknown
    Klass* defineClass(const std::string& name, Klass* super);
    Klass* arrayClassOf(Klass* element);
    Method* addMethod(Klass* k, const std::string& name, const std::string& sig, bool isStatic, MethodImpl impl);
    Field* addField(Klass* k, const std::string& name, const std::string& sig);
    Method* findMethod(Klass* k, std::string_view name, std::string_view sig, bool isStatic);
    Field* findField(Klass* k, std::string_view name, std::string_view sig);
    Klass* throwableClass(const std::string& name);  // defined on first use
    static bool isSubclass(const Klass* k, const Klass* of);

    Obj* newInstance(Klass* k);
    Obj* newString(std::u16string text);
    Obj* newArray(Klass* element, size_t length);
    Obj* newThrowable(Klass* k, Obj* message);
    void throwNew(ThreadState& t, const std::string& className, const std::string* message);

    jobject localRef(ThreadState& t, Obj* obj);  // null for null
    jobject globalRef(Obj* obj);
    // The object behind a reference (null for null); ends the process on a deleted, foreign
    // or made-up reference.
    Obj* deref(ThreadState& t, jobject ref, const char* fn);
    Ref* refOf(jobject ref, const char* fn);
    Klass* derefClass(ThreadState& t, jclass ref, const char* fn);  // non-null or ends
    Obj* derefString(ThreadState& t, jstring ref, const char* fn);  // non-null or ends
    Method* method(jmethodID id, const char* fn);
    Field* field(jfieldID id, const char* fn);

    void pin(const void* buffer, Obj* string, PinKind kind);
    void unpin(const void* buffer, Obj* string, PinKind kind, const char* fn);
    size_t pinnedCount() const { return pins_.size(); }  // string buffers not yet released
    size_t liveGlobalCount() const;
    // Local references made from now on can be released together, as a runtime releases
    // those of a native method when it returns.
    size_t localMark() const { return refs_.size(); }
    void releaseLocalsSince(ThreadState& t, size_t mark);
    unsigned nextThreadNumber() { return threadCounter_++; }  // names Thread-N

    std::string describe(const Obj* obj);  // for the log: "null", a quoted string, class#id
    std::string throwableText(const Obj* throwable);  // java.lang.X: message

    // ---- state, guarded by the lock ----
    State state = State::Fresh;
    Script script;
    std::vector<std::string> options;               // as given, in UTF-8
    void(JNICALL* exitHook)(jint) = nullptr;        // the "exit" option's hook, if given
    std::atomic<bool> exiting{false};               // System.exit began: Java threads stop
    // System.exit or DestroyJavaVM's last phase began: as on HotSpot, from then on every other
    // thread that attaches or makes a JNI call blocks for good (haltedBy is the ending thread).
    std::atomic<bool> halting{false};
    std::atomic<unsigned long> haltedBy{0};
    std::map<std::string, std::string> properties;  // from the -D options
    std::vector<void*> scriptThreads;               // handles of threads a main started
    std::map<std::string, Obj*> variables;          // the script's object variables
    std::map<std::string, void*> javaThreads;       // threads of `start` steps, by name (for join)
    JavaVM_ javaVm{};
    std::condition_variable threadsChanged;

private:
    Vm() = default;

    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Klass>, std::less<>> classes_;
    std::vector<std::unique_ptr<Obj>> objects_;
    std::uint32_t nextObjectId_ = 1;
    std::deque<Ref> refs_;
    std::unordered_set<const Ref*> refSet_;
    std::vector<std::unique_ptr<ThreadState>> threads_;
    std::unordered_map<const JNIEnv*, ThreadState*> envs_;
    std::unordered_map<unsigned long, ThreadState*> attached_;
    std::unordered_set<const void*> methodIds_;
    std::unordered_set<const void*> fieldIds_;
    std::unordered_map<const void*, std::pair<Obj*, PinKind>> pins_;
    unsigned threadCounter_ = 0;
};

// The JNIEnv function table: implemented functions, every other slot a trap.
const JNINativeInterface_* nativeInterface();
// The JavaVM function table.
const JNIInvokeInterface_* invokeInterface();
// Defines java/lang/Object, String, System, Class, the throwables and java/util/HashSet.
void defineBootClasses(Vm& vm);
// Gives a throwable class the constructors () and (String).
void addThrowableConstructors(Vm& vm, Klass* k);
// Defines the classes of the script, with their mains; false with `error` on a bad script.
bool defineScriptedClasses(Vm& vm, std::string& error);
// Runs the steps of a main, a routine or a method body on the calling thread `t`; false when
// one of them ended the body (returns, throws, an exception a native left pending).
bool runSteps(Vm& vm, ThreadState& t, const std::vector<MainStep>& steps, const std::vector<std::string>& argv);
// The steps that play Java (native, new, set-field, get-field, start, join); false when the
// body must end because an exception is pending.
bool playJavaStep(Vm& vm, ThreadState& t, const MainStep& step);
// The runtime's own work at its end (DestroyJavaVM, System.exit): the dynamic archive of a
// `dumps-archive` script. Reads only what creation set.
void writeArchiveAtEnd(const Vm& vm);
// System.exit(code) as HotSpot does it: the end-of-runtime work on the calling thread, then
// the "exit" hook (when the launcher gave one) on another thread, the VM thread, while the
// caller waits; then the process ends through ExitProcess, which runs no exit handlers of
// the launcher's C runtime (a real runtime has its own). From the start every other Java
// thread stops at its next step, and DestroyJavaVM never returns, as in a runtime whose
// threads block at the exit's safepoint.
[[noreturn]] void systemExit(Vm& vm, long code);
// Called where a runtime would reach a safepoint: never returns once System.exit began.
void stopIfExiting(const Vm& vm);
// Binds `this` and arg0... for a method body, then runs the routine.
void runMethodBody(Vm& vm, ThreadState& t, const Routine& routine, Obj* self, const Method& m,
                   const std::vector<Value>& args);

}  // namespace testjvm
