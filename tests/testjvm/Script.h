#pragma once
// The behaviour a test asks of the runtime, read from the file named by KVX_TESTJVM_SCRIPT.
// One directive a line; blank lines and lines starting with '#' are ignored:
//
//   create-result N            JNI_CreateJavaVM returns N (non-zero: no machine is created)
//   attach-result N            AttachCurrentThread(AsDaemon) returns N without attaching
//   attach-delay MS            a successful attach takes MS more before it returns (a real
//                              runtime builds the thread's Java object meanwhile)
//   slow-call FN MS            the JNI function FN (NewGlobalRef ...) takes MS before its
//                              work, so that the runtime may begin to end meanwhile
//   final-phase MS             DestroyJavaVM's last phase, after the other threads ended,
//                              lasts MS (0 by default); other threads that attach or call JNI
//                              then block for good, as they do on HotSpot
//   record-env NAME            records "env NAME=value" (or "env NAME unset") at creation
//   version TEXT | version null | version-fail | version-throws CLASS [MESSAGE]
//                              what System.getProperty("java.vm.version") does: answer TEXT,
//                              answer null, have no getProperty method, or throw
//   java-version TEXT          what System.getProperty("java.version") answers (unscripted:
//                              null, as from a runtime that does not report it)
//   dumps-archive              at its end (DestroyJavaVM or System.exit) the runtime writes
//                              4096 bytes to the file of -XX:ArchiveClassesAtExit=, as a
//                              JDK 13-18 writes its dynamic archive (and of
//                              -XX:AOTConfiguration=, as JDK 25 writes its training record)
//   class NAME [extends SUPER] a loadable class (slashed name) with a static main(String[])
//   main STEP                  appended to the last class's main, run in order when called:
//        returns | throws CLASS [MESSAGE] | missing (no main at all) | exit N | sleeps MS |
//        writes-file PATH (the arguments, one a line) | cwd | env NAME | property NAME |
//        thread NAME MS (a non-daemon thread living MS) | stdout TEXT | stderr TEXT
//   field NAME SIG             an instance field of the last class
//   method NAME SIG [static] [runs ROUTINE]
//                              a method of the last class; its calls are recorded, then the
//                              routine's steps run on the calling thread with the variables
//                              `this` and arg0, arg1 ... (reference arguments) bound
//   routine NAME               a named list of steps: a Java thread's body or a method's
//   step STEP                  appended to the last routine; any main step but `missing`
//
// Steps that play Java (in main and in routines; VAR names a script variable that holds an
// object, shared by all threads):
//   native [VAR =] CLASS.METHOD SIG static|VAR [ARG...]
//        calls the native method as a runtime does: the library named by the system property
//        kvx.app.path is loaded once (System.load), the export is looked up under the JNI
//        short name, then the long name (on i686 only in the stdcall form _NAME@BYTES), and
//        called with this thread's JNIEnv, the class (static) or the object, and the ARGs:
//        a number, "text" (a new String; \" and \\ escape), null or a VAR. Arguments and
//        the result may be int-like (I Z B C S) or references; an object result is kept in
//        VAR. Local references the native made are released when it returns, and an
//        exception it left pending ends the main or routine, as it would in Java.
//   repeat N native ...        the same call N times, logged once at the end
//   new VAR CLASS              an object made with the class's ()V constructor
//   set-field VAR NAME ARG     stores a number, null, "text" or a VAR in an instance field
//   get-field VAR NAME         records the field's value
//   start ROUTINE [NAME]       a non-daemon Java thread NAME (default: the routine's name),
//                              attached before it starts, running the routine
//   join NAME                  waits for that thread's end
//   waits-file PATH MS         waits until the file PATH exists, at most MS milliseconds;
//                              records "waited PATH" or "wait-timeout PATH"
//   only-if-arg INDEX VALUE    in a method body: the rest of the body runs only when the
//                              call's int-like argument INDEX (0-based) equals VALUE
//
// Class names given in KVX_TESTJVM_CLASSES (comma list) exist too, with a main that returns
// unless the script describes the class.

#include <string>
#include <string_view>
#include <vector>

namespace testjvm {

// One argument of a played Java call or a stored field value.
struct ArgSpec {
    enum class Kind { Number, Text, Null, Variable };
    Kind kind = Kind::Null;
    long number = 0;
    std::string text;  // the string's UTF-8 text, or the variable's name
};

struct MainStep {
    enum class Kind {
        Returns, Throws, Exit, Sleeps, WritesFile, Cwd, Env, Property, Thread, Stdout, Stderr,
        Native, New, SetField, GetField, Start, Join, WaitsFile, OnlyIfArg
    };
    Kind kind = Kind::Returns;
    std::string text;   // class, path, name or printed text; the variable of new/set-field/get-field
    std::string text2;  // exception message; the class of new; the field; the thread of start
    bool hasText2 = false;
    long number = 0;    // exit code, milliseconds, repeat count
    // native: result variable (may be empty), class, method, descriptor, receiver (empty for
    // static); set-field: the value in args[0]
    std::string result;
    std::string cls;
    std::string method;
    std::string sig;
    std::string receiver;
    std::vector<ArgSpec> args;
};

struct MemberDecl {
    std::string name;
    std::string sig;
    bool isStatic = false;
    std::string runs;  // routine run after the call is recorded, or empty
};

struct Routine {
    std::string name;
    std::vector<MainStep> steps;
};

struct ScriptedClass {
    std::string name;
    std::string super = "java/lang/Object";
    bool hasMain = true;
    std::vector<MainStep> steps;
    std::vector<MemberDecl> fields;
    std::vector<MemberDecl> methods;
};

struct Script {
    enum class Version { Text, Null, Fail, Throws };

    long createResult = 0;
    long attachResult = 0;
    long attachDelayMs = 0;
    long finalPhaseMs = 0;
    std::string slowCall;  // a JNI function that takes slowCallMs before its work
    long slowCallMs = 0;
    Version versionMode = Version::Text;
    std::string version = "17.0.1+12";
    std::string versionThrowClass;
    std::string versionThrowMessage;
    bool versionThrowHasMessage = false;
    std::string javaVersion;
    bool hasJavaVersion = false;
    bool dumpsArchive = false;
    std::vector<ScriptedClass> classes;
    std::vector<Routine> routines;
    std::vector<std::string> recordedEnv;

    const Routine* findRoutine(const std::string& name) const;

    // Parses `text`; on failure returns false with `error` naming the line.
    [[nodiscard]] bool parse(std::string_view text, std::string& error);
    // Adds a class with a plain main for each name of a comma list.
    void addClassList(std::string_view list);
};

// True for a field descriptor such as I, Ljava/lang/String; or [I.
bool isFieldDescriptor(std::string_view sig);
// Splits a method descriptor into argument type letters ('L' for any reference) and the
// return letter; false when malformed.
bool parseMethodDescriptor(std::string_view sig, std::vector<char>& args, char& ret);

}  // namespace testjvm
