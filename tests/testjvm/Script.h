#pragma once
// The behaviour a test asks of the runtime, read from the file named by KVX_TESTJVM_SCRIPT.
// One directive a line; blank lines and lines starting with '#' are ignored:
//
//   create-result N            JNI_CreateJavaVM returns N (non-zero: no machine is created)
//   attach-result N            AttachCurrentThread(AsDaemon) returns N without attaching
//   record-env NAME            records "env NAME=value" (or "env NAME unset") at creation
//   version TEXT | version null | version-fail | version-throws CLASS [MESSAGE]
//                              what System.getProperty("java.vm.version") does: answer TEXT,
//                              answer null, have no getProperty method, or throw
//   java-version TEXT          what System.getProperty("java.version") answers (unscripted:
//                              null, as from a runtime that does not report it)
//   class NAME [extends SUPER] a loadable class (slashed name) with a static main(String[])
//   main STEP                  appended to the last class's main, run in order when called:
//        returns | throws CLASS [MESSAGE] | missing (no main at all) | exit N | sleeps MS |
//        writes-file PATH (the arguments, one a line) | cwd | env NAME | property NAME |
//        thread NAME MS (a non-daemon thread living MS) | stdout TEXT | stderr TEXT
//   field NAME SIG             an instance field of the last class
//   method NAME SIG [static]   a method of the last class; its calls are recorded
//
// Class names given in KVX_TESTJVM_CLASSES (comma list) exist too, with a main that returns
// unless the script describes the class.

#include <string>
#include <string_view>
#include <vector>

namespace testjvm {

struct MainStep {
    enum class Kind { Returns, Throws, Exit, Sleeps, WritesFile, Cwd, Env, Property, Thread, Stdout, Stderr };
    Kind kind = Kind::Returns;
    std::string text;   // class, path, name or printed text
    std::string text2;  // exception message
    bool hasText2 = false;
    long number = 0;    // exit code, milliseconds
};

struct MemberDecl {
    std::string name;
    std::string sig;
    bool isStatic = false;
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
    Version versionMode = Version::Text;
    std::string version = "17.0.1+12";
    std::string versionThrowClass;
    std::string versionThrowMessage;
    bool versionThrowHasMessage = false;
    std::string javaVersion;
    bool hasJavaVersion = false;
    std::vector<ScriptedClass> classes;
    std::vector<std::string> recordedEnv;

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
