// Self-test of the stand-in jvm.dll: loads the built library by path, as the launcher does,
// drives it through the JNI calls the launcher and the natives make, and compares what it
// recorded with what it was asked. Cases that must end the process run in a child copy of
// this program. Usage: testjvm_selftest [TESTJVM_DIR]  (default: the parent of this folder)

#include <jni.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

int g_passed = 0;
int g_failed = 0;
std::string g_case;

void check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAIL [%s] %s\n", g_case.c_str(), what.c_str());
        std::fflush(stdout);
    }
}

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring g_testjvmDir;  // where jvm.dll, jvmdep.dll and jvm-needsdep\ are
std::wstring g_tempDir;     // removed at the end
std::wstring g_self;

std::wstring jvmPath() { return g_testjvmDir + L"\\jvm.dll"; }

bool writeFile(const std::wstring& path, const std::string& content) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
              written == content.size();
    CloseHandle(h);
    return ok;
}

std::string readFile(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

void removeTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

int indexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == line) return static_cast<int>(i);
    }
    return -1;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) { return indexOf(lines, line) >= 0; }

void expectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    bool same = actual == expected;
    check(same, "log differs from the expected lines");
    if (!same) {
        std::printf("  expected:\n");
        for (const auto& l : expected) std::printf("    %s\n", l.c_str());
        std::printf("  actual:\n");
        for (const auto& l : actual) std::printf("    %s\n", l.c_str());
    }
}

void expectLine(const std::vector<std::string>& lines, const std::string& line) {
    bool found = hasLine(lines, line);
    check(found, "log has: " + line);
    if (!found) {
        std::printf("  actual:\n");
        for (const auto& l : lines) std::printf("    %s\n", l.c_str());
    }
}

// Sets up the environment of one case (log, script, class list) in the temporary folder.
std::wstring prepareCase(const std::string& name, const std::string& script, const char* classes) {
    g_case = name;
    std::wstring log = g_tempDir + L"\\" + widen(name) + L".log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"KVX_TESTJVM_LOG", log.c_str());
    if (script.empty()) {
        SetEnvironmentVariableW(L"KVX_TESTJVM_SCRIPT", nullptr);
    } else {
        std::wstring path = g_tempDir + L"\\" + widen(name) + L".script";
        writeFile(path, script);
        SetEnvironmentVariableW(L"KVX_TESTJVM_SCRIPT", path.c_str());
    }
    SetEnvironmentVariableW(L"KVX_TESTJVM_CLASSES", classes ? widen(classes).c_str() : nullptr);
    return log;
}

using CreateFn = jint(JNICALL*)(JavaVM**, void**, void*);

// GetProcAddress's result as the function type it really has.
template <typename F>
F procAs(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(lib, name)));
}

// One load of a jvm.dll and, when creation succeeds, its virtual machine.
struct Session {
    std::wstring log;
    HMODULE library = nullptr;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint created = JNI_ERR;

    Session(const std::string& name, const std::string& script, const std::vector<std::string>& options,
            const char* classes = nullptr, const std::wstring& dll = jvmPath()) {
        log = prepareCase(name, script, classes);
        library = LoadLibraryW(dll.c_str());
        check(library != nullptr, "jvm.dll loads");
        if (library == nullptr) return;
        auto create = procAs<CreateFn>(library, "JNI_CreateJavaVM");
        check(create != nullptr, "JNI_CreateJavaVM is exported");
        if (create == nullptr) return;
        std::vector<JavaVMOption> opts(options.size());
        for (size_t i = 0; i < options.size(); ++i) {
            opts[i].optionString = const_cast<char*>(options[i].c_str());
            opts[i].extraInfo = nullptr;
        }
        JavaVMInitArgs args;
        args.version = JNI_VERSION_1_2;
        args.nOptions = static_cast<jint>(opts.size());
        args.options = opts.empty() ? nullptr : opts.data();
        args.ignoreUnrecognized = JNI_TRUE;
        created = create(&vm, reinterpret_cast<void**>(&env), &args);
    }

    // As the launcher ends: detach the main thread, destroy the machine.
    void destroy() {
        if (vm == nullptr) return;
        vm->DetachCurrentThread();
        vm->DestroyJavaVM();
        vm = nullptr;
    }

    ~Session() { finish(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::vector<std::string> finish() {
        destroy();
        if (library != nullptr) FreeLibrary(library);
        library = nullptr;
        return splitLines(readFile(log));
    }
};

#define REQUIRE_VM(s)                                     \
    do {                                                  \
        check((s).created == JNI_OK && (s).env, "created"); \
        if ((s).created != JNI_OK || !(s).env) return;    \
    } while (false)

std::string javaText(JNIEnv* env, jstring s) {
    if (s == nullptr) return "<null>";
    jsize n = env->GetStringLength(s);
    const jchar* units = env->GetStringChars(s, nullptr);
    std::wstring w(reinterpret_cast<const wchar_t*>(units), static_cast<size_t>(n));
    env->ReleaseStringChars(s, units);
    return narrow(w);
}

jstring newJavaString(JNIEnv* env, const std::wstring& text) {
    return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

// What the launcher does: version query, main class, arguments, call.
std::string queryVersion(JNIEnv* env) {
    jclass system = env->FindClass("java/lang/System");
    if (system == nullptr) return "<no System>";
    jmethodID getProperty = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    if (getProperty == nullptr) {
        env->ExceptionClear();
        env->DeleteLocalRef(system);
        return "<no getProperty>";
    }
    jstring key = env->NewStringUTF("java.vm.version");
    auto value = static_cast<jstring>(env->CallStaticObjectMethod(system, getProperty, key));
    std::string text = javaText(env, value);
    env->ExceptionClear();
    env->DeleteLocalRef(value);
    env->DeleteLocalRef(key);
    env->DeleteLocalRef(system);
    return text;
}

// 0 main called, 7 no class, 8 no main.
int runMain(JNIEnv* env, const char* className, const std::vector<std::wstring>& args) {
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        return 7;
    }
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    if (main == nullptr) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        env->DeleteLocalRef(cls);
        return 8;
    }
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(args.size()), stringClass, nullptr);
    for (size_t i = 0; i < args.size(); ++i) {
        jstring s = newJavaString(env, args[i]);
        env->SetObjectArrayElement(array, static_cast<jsize>(i), s);
        env->DeleteLocalRef(s);
    }
    env->DeleteLocalRef(stringClass);
    env->CallStaticVoidMethod(cls, main, array);
    if (env->ExceptionOccurred() != nullptr) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
    env->DeleteLocalRef(array);
    env->DeleteLocalRef(cls);
    return 0;
}

std::string currentDir() {
    wchar_t cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
    return narrow(std::wstring(cwd, n));
}

// ---- cases ----

void exportsOfBothKinds() {
    g_case = "exports";
    HMODULE lib = LoadLibraryW(jvmPath().c_str());
    check(lib != nullptr, "jvm.dll loads");
    if (lib == nullptr) return;
    FARPROC create = GetProcAddress(lib, "JNI_CreateJavaVM");
    check(create != nullptr, "JNI_CreateJavaVM");
    check(GetProcAddress(lib, "JNI_GetDefaultJavaVMInitArgs") != nullptr, "JNI_GetDefaultJavaVMInitArgs");
    check(GetProcAddress(lib, "JNI_GetCreatedJavaVMs") != nullptr, "JNI_GetCreatedJavaVMs");
    if (sizeof(void*) == 4) {
        check(GetProcAddress(lib, "_JNI_CreateJavaVM@12") == create, "_JNI_CreateJavaVM@12 is the same function");
        check(GetProcAddress(lib, "_JNI_GetCreatedJavaVMs@12") != nullptr, "_JNI_GetCreatedJavaVMs@12");
    }
    FreeLibrary(lib);
}

void launcherSequence() {
    Session s("launch", "version 1.6.0_45-b06\nclass app/Main\nmain returns\n",
              {"-Xmx64m", "-Djava.class.path=C:\\app\\app.exe", "-Dkvx.app.path=C:\\app\\app.exe"});
    REQUIRE_VM(s);
    check(queryVersion(s.env) == "1.6.0_45-b06", "version answered from the script");
    check(runMain(s.env, "app/Main", {L"one", L"zwei \u00fc \u4e2d"}) == 0, "main called");
    expectLines(s.finish(), {
        "create version=0x00010002 nOptions=3 ignoreUnrecognized=1",
        "option -Xmx64m",
        "option -Djava.class.path=C:\\app\\app.exe",
        "option -Dkvx.app.path=C:\\app\\app.exe",
        "cwd " + currentDir(),
        "library " + narrow(jvmPath()),
        "findclass java/lang/System",
        "getstaticmethod java/lang/System getProperty (Ljava/lang/String;)Ljava/lang/String;",
        "getproperty java.vm.version",
        "findclass app/Main",
        "getstaticmethod app/Main main ([Ljava/lang/String;)V",
        "findclass java/lang/String",
        "main app/Main argc=2",
        "arg 0 one",
        "arg 1 zwei \xc3\xbc \xe4\xb8\xad",
        "detach",
        "destroy",
        "destroyed global-refs=0 pinned-strings=0",
        "unload",
    });
}

void classesWithoutScript() {
    Session s("no-script", "", {"-Dplain=value", "-Dempty"}, "app/One, app.Two");
    REQUIRE_VM(s);
    check(queryVersion(s.env) == "17.0.1+12", "default version");
    check(runMain(s.env, "app/One", {}) == 0, "listed class");
    check(runMain(s.env, "app/Two", {}) == 0, "listed in dotted form, found slashed");
    check(runMain(s.env, "app.Two", {}) == 7, "a dotted name is not found");
    check(runMain(s.env, "app/Three", {}) == 7, "unlisted class");
    // Other properties come from the -D options.
    jclass system = s.env->FindClass("java/lang/System");
    jmethodID getProperty = s.env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    auto ask = [&](const char* key) {
        jstring k = s.env->NewStringUTF(key);
        std::string v = javaText(s.env, static_cast<jstring>(s.env->CallStaticObjectMethod(system, getProperty, k)));
        return v;
    };
    check(ask("plain") == "value", "-Dplain=value");
    check(ask("empty") == "", "-Dempty is the empty text");
    check(ask("unknown") == "<null>", "unknown property is null");
    auto lines = s.finish();
    expectLine(lines, "main app/One argc=0");
    expectLine(lines, "main app/Two argc=0");
    expectLine(lines, "findclass app.Two");
    expectLine(lines, "exception-describe java.lang.NoClassDefFoundError: app.Two");
    expectLine(lines, "exception-describe java.lang.NoClassDefFoundError: app/Three");
}

void mainFailures() {
    {
        Session s("main-missing", "class app/Main\nmain missing\n", {});
        REQUIRE_VM(s);
        check(runMain(s.env, "app/Main", {}) == 8, "no main: 8");
        check(s.env->ExceptionCheck() == JNI_FALSE, "describe cleared the exception");
        expectLine(s.finish(), "exception-describe java.lang.NoSuchMethodError: main");
    }
    {
        Session s("main-throws", "class app/Main\nmain throws java.lang.IllegalStateException boom and more\n", {});
        REQUIRE_VM(s);
        jclass cls = s.env->FindClass("app/Main");
        jmethodID main = s.env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
        s.env->CallStaticVoidMethod(cls, main, nullptr);
        jthrowable t = s.env->ExceptionOccurred();
        check(t != nullptr, "exception pending after main");
        jclass ise = s.env->FindClass("java/lang/IllegalStateException");  // with a pending exception
        check(s.env->IsInstanceOf(t, ise), "of the scripted class");
        s.env->ExceptionDescribe();
        check(s.env->ExceptionCheck() == JNI_FALSE, "describe clears");
        auto lines = s.finish();
        expectLine(lines, "main app/Main argc=null");
        expectLine(lines, "jni-warning FindClass called with a pending exception");
        expectLine(lines, "exception-describe java.lang.IllegalStateException: boom and more");
    }
    {
        Session s("main-throws-no-message", "class app/Main\nmain throws com.example.Oops\n", {});
        REQUIRE_VM(s);
        check(runMain(s.env, "app/Main", {}) == 0, "main called");
        expectLine(s.finish(), "exception-describe com.example.Oops");
    }
}

void versionVariants() {
    {
        Session s("version-null", "version null\n", {});
        REQUIRE_VM(s);
        check(queryVersion(s.env) == "<null>", "null version");
    }
    {
        Session s("version-fail", "version-fail\n", {});
        REQUIRE_VM(s);
        check(queryVersion(s.env) == "<no getProperty>", "no getProperty");
        auto lines = s.finish();
        check(!hasLine(lines, "getproperty java.vm.version"), "not called");
    }
    {
        Session s("version-throws", "version-throws java.lang.SecurityException denied\n", {});
        REQUIRE_VM(s);
        jclass system = s.env->FindClass("java/lang/System");
        jmethodID gp = s.env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
        jobject v = s.env->CallStaticObjectMethod(system, gp, s.env->NewStringUTF("java.vm.version"));
        check(v == nullptr && s.env->ExceptionCheck(), "null result and a pending exception");
        s.env->ExceptionDescribe();
        expectLine(s.finish(), "exception-describe java.lang.SecurityException: denied");
    }
}

void creationFailures() {
    {
        Session s("create-result", "create-result -4\n", {"-Dx=1"});
        check(s.created == -4, "scripted result");
        check(s.vm == nullptr || s.created != JNI_OK, "no machine");
        s.vm = nullptr;
        expectLines(s.finish(), {"create version=0x00010002 nOptions=1 ignoreUnrecognized=1", "option -Dx=1",
                                 "cwd " + currentDir(), "library " + narrow(jvmPath()), "unload"});
    }
    {
        Session s("unrecognized", "", {"-Xunknown-but-ignored", "-cp", "lib.jar"});
        check(s.created == JNI_ERR, "-cp is no runtime option");
        s.vm = nullptr;
        expectLine(s.finish(), "unrecognized-option -cp");
    }
    {
        Session s("second-create", "", {});
        REQUIRE_VM(s);
        auto create = procAs<CreateFn>(s.library, "JNI_CreateJavaVM");
        JavaVM* vm2 = nullptr;
        JNIEnv* env2 = nullptr;
        JavaVMInitArgs args{JNI_VERSION_1_2, 0, nullptr, JNI_TRUE};
        check(create(&vm2, reinterpret_cast<void**>(&env2), &args) == JNI_EEXIST, "one machine per process");
        using CreatedFn = jint(JNICALL*)(JavaVM**, jsize, jsize*);
        auto created = procAs<CreatedFn>(s.library, "JNI_GetCreatedJavaVMs");
        JavaVM* found = nullptr;
        jsize n = 0;
        check(created(&found, 1, &n) == JNI_OK && n == 1 && found == s.vm, "GetCreatedJavaVMs");
    }
}

void threadsAndDestroy() {
    Session s("threads", "class app/Main\nmain thread worker 400\nmain returns\n", {});
    REQUIRE_VM(s);
    auto start = std::chrono::steady_clock::now();
    check(runMain(s.env, "app/Main", {}) == 0, "main called");
    // Another thread attaches while the machine runs, as the tray thread does.
    std::atomic<int> attached{0};
    JavaVM* vm = s.vm;
    JNIEnv* mainEnv = s.env;
    std::thread other([&] {
        JNIEnv* env = nullptr;
        void* probe = reinterpret_cast<void*>(1);
        check(vm->GetEnv(&probe, JNI_VERSION_1_2) == JNI_EDETACHED && probe == nullptr, "GetEnv before attaching");
        if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == JNI_OK) {
            attached = 1;
            check(env != mainEnv, "own environment");
            JNIEnv* again = nullptr;
            vm->AttachCurrentThread(reinterpret_cast<void**>(&again), nullptr);
            check(again == env, "attaching twice gives the same environment");
            JavaVM* fromEnv = nullptr;
            check(env->GetJavaVM(&fromEnv) == JNI_OK && fromEnv == vm, "GetJavaVM");
            jclass cls = env->FindClass("app/Main");
            jobject global = env->NewGlobalRef(cls);
            check(env->IsSameObject(global, cls), "global and local name the same class");
            env->DeleteGlobalRef(global);
            vm->DetachCurrentThread();
        }
    });
    other.join();
    check(attached == 1, "AttachCurrentThread");
    auto lines = s.finish();
    auto elapsed = std::chrono::steady_clock::now() - start;
    check(elapsed >= std::chrono::milliseconds(350), "DestroyJavaVM waited for the worker");
    int threadStart = indexOf(lines, "thread-start worker");
    int destroy = indexOf(lines, "destroy");
    int waits = indexOf(lines, "destroy-waits threads=1");
    int end = indexOf(lines, "thread-end worker");
    int destroyed = indexOf(lines, "destroyed global-refs=0 pinned-strings=0");
    check(threadStart >= 0 && threadStart < destroy && destroy < waits && waits < end && end < destroyed,
          "destroy waits for the non-daemon thread");
    expectLine(lines, "attach");
}

void concurrentUse() {
    Session s("concurrent", "", {});
    REQUIRE_VM(s);
    JavaVM* vm = s.vm;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            for (int i = 0; i < 150; ++i) {
                JNIEnv* env = nullptr;
                if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
                    ++failures;
                    return;
                }
                std::wstring text = L"thread " + std::to_wstring(n) + L" round " + std::to_wstring(i);
                jstring str = newJavaString(env, text);
                if (narrow(text) != javaText(env, str)) ++failures;
                jclass set = env->FindClass("java/util/HashSet");
                jobject obj = env->NewObject(set, env->GetMethodID(set, "<init>", "()V"));
                if (!env->CallBooleanMethod(obj, env->GetMethodID(set, "add", "(Ljava/lang/Object;)Z"), str)) ++failures;
                env->DeleteLocalRef(obj);
                env->DeleteLocalRef(set);
                env->DeleteLocalRef(str);
                vm->DetachCurrentThread();
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        jstring str = s.env->NewStringUTF("main");
        s.env->DeleteLocalRef(str);
    }
    for (auto& t : threads) t.join();
    check(failures == 0, "four threads attach, work and detach concurrently");
    auto lines = s.finish();
    expectLine(lines, "destroyed global-refs=0 pinned-strings=0");
    size_t attaches = 0;
    for (const auto& l : lines) attaches += l == "attach";
    check(attaches == 600, "every attach recorded");
}

void objectModelForNatives() {
    Session s("objects",
              "class app/Tray\n"
              "field h I\n"
              "field popups Ljava/util/HashSet;\n"
              "method OnMouseClick (Lapp/Tray;I)V\n"
              "method OnMenuCommand (I)V\n",
              {});
    REQUIRE_VM(s);
    JNIEnv* env = s.env;
    jclass tray = env->FindClass("app/Tray");
    jobject obj = env->NewObject(tray, env->GetMethodID(tray, "<init>", "()V"));
    check(obj != nullptr, "NewObject");
    jclass ofObj = env->GetObjectClass(obj);
    check(env->IsSameObject(ofObj, tray), "GetObjectClass");
    jfieldID h = env->GetFieldID(ofObj, "h", "I");
    check(h != nullptr, "field h");
    check(env->GetIntField(obj, h) == 0, "fields start at 0");
    env->SetIntField(obj, h, 0x12345678);
    check(env->GetIntField(obj, h) == 0x12345678, "SetIntField");
    check(env->GetFieldID(tray, "h", "J") == nullptr && env->ExceptionCheck(), "wrong descriptor: NoSuchFieldError");
    env->ExceptionClear();

    jfieldID popups = env->GetFieldID(tray, "popups", "Ljava/util/HashSet;");
    jclass setClass = env->FindClass("java/util/HashSet");
    jobject set = env->NewObject(setClass, env->GetMethodID(setClass, "<init>", "()V"));
    check(env->GetObjectField(obj, popups) == nullptr, "object fields start null");
    env->SetObjectField(obj, popups, set);
    jobject got = env->GetObjectField(obj, popups);
    check(env->IsSameObject(got, set) && got != set, "GetObjectField: a new reference to the same set");
    jmethodID add = env->GetMethodID(env->GetObjectClass(got), "add", "(Ljava/lang/Object;)Z");
    check(env->CallBooleanMethod(got, add, obj) == JNI_TRUE, "add: new member");
    check(env->CallBooleanMethod(got, add, obj) == JNI_FALSE, "add: already there");
    jmethodID size = env->GetMethodID(setClass, "size", "()I");
    check(env->CallIntMethod(set, size) == 1, "one member");

    jmethodID click = env->GetMethodID(tray, "OnMouseClick", "(Lapp/Tray;I)V");
    env->CallVoidMethod(obj, click, obj, 514);
    jvalue args[1];
    args[0].i = 50001;
    env->CallVoidMethodA(obj, env->GetMethodID(tray, "OnMenuCommand", "(I)V"), args);

    // Strings: UTF-16 in, modified UTF-8 out, and the length, not a terminator, ends them.
    const jchar units[] = {'a', 0, 0x00e9, 0xd83d, 0xde00};
    jstring str = env->NewString(units, 5);
    check(env->GetStringLength(str) == 5, "GetStringLength");
    const char* utf = env->GetStringUTFChars(str, nullptr);
    check(std::strcmp(utf, "a\xc0\x80\xc3\xa9\xed\xa0\xbd\xed\xb8\x80") == 0, "modified UTF-8");
    check(env->GetStringUTFLength(str) == static_cast<jsize>(std::strlen(utf)), "GetStringUTFLength");
    env->ReleaseStringUTFChars(str, utf);
    jboolean isCopy = JNI_FALSE;
    const jchar* chars = env->GetStringChars(str, &isCopy);
    check(std::memcmp(chars, units, sizeof units) == 0 && chars[5] != 0, "units, then no terminator");
    env->ReleaseStringChars(str, chars);
    jstring back = env->NewStringUTF("a\xc0\x80\xc3\xa9\xed\xa0\xbd\xed\xb8\x80");
    chars = env->GetStringChars(back, nullptr);
    check(env->GetStringLength(back) == 5 && std::memcmp(chars, units, sizeof units) == 0, "NewStringUTF decodes");
    env->ReleaseStringChars(back, chars);
    check(env->NewStringUTF(nullptr) == nullptr, "NewStringUTF(null)");

    // Arrays: bounds and element types are checked.
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(2, stringClass, str);
    check(env->GetArrayLength(array) == 2, "GetArrayLength");
    check(env->IsSameObject(env->GetObjectArrayElement(array, 1), str), "initial element");
    env->SetObjectArrayElement(array, 2, str);
    jthrowable oob = env->ExceptionOccurred();
    check(oob != nullptr && env->IsInstanceOf(oob, env->FindClass("java/lang/ArrayIndexOutOfBoundsException")),
          "index 2 of 2");
    env->ExceptionClear();
    env->SetObjectArrayElement(array, 0, obj);
    jthrowable store = env->ExceptionOccurred();
    env->ExceptionClear();
    check(store != nullptr && env->IsInstanceOf(store, env->FindClass("java/lang/ArrayStoreException")),
          "a Tray in a String[]");
    check(env->NewObjectArray(-1, stringClass, nullptr) == nullptr && env->ExceptionCheck(), "negative length");
    env->ExceptionClear();

    // Throwing from native code.
    check(env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"), "bad icon") == JNI_OK, "ThrowNew");
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    check(env->Throw(thrown) == JNI_OK && env->ExceptionCheck(), "Throw");
    env->ExceptionDescribe();

    auto lines = s.finish();
    bool sawClick = false;
    for (const auto& l : lines) {
        sawClick |= l.rfind("call app/Tray.OnMouseClick(Lapp/Tray;I)V on app/Tray#", 0) == 0 &&
                    l.size() > 20 && l.compare(l.size() - 16, 16, " 514 thread=main") == 0;
    }
    check(sawClick, "OnMouseClick recorded with its arguments");
    bool sawCommand = false;
    for (const auto& l : lines) sawCommand |= l.find("app/Tray.OnMenuCommand(I)V") != std::string::npos && l.find(" 50001 ") != std::string::npos;
    check(sawCommand, "OnMenuCommand recorded");
    expectLine(lines, "getfield app/Tray h I");
    expectLine(lines, "exception-describe java.lang.IllegalArgumentException: bad icon");
}

void leaksAreCounted() {
    Session s("leaks", "", {});
    REQUIRE_VM(s);
    jstring str = s.env->NewStringUTF("kept");
    const jchar* chars = s.env->GetStringChars(str, nullptr);
    (void)chars;
    s.env->NewGlobalRef(str);
    expectLine(s.finish(), "destroyed global-refs=1 pinned-strings=1");
}

void mainSteps() {
    std::wstring out = g_tempDir + L"\\main-steps.out";
    std::string script = "class app/Main\n"
                         "main cwd\n"
                         "main env KVX_SELFTEST_MARK\n"
                         "main env KVX_SELFTEST_UNSET\n"
                         "main property app.name\n"
                         "main property java.vm.version\n"
                         "main writes-file " + narrow(out) + "\n"
                         "main stdout hello from main\n"
                         "main sleeps 10\n"
                         "main returns\n"
                         "main throws java.lang.Error never\n";
    SetEnvironmentVariableW(L"KVX_SELFTEST_MARK", L"m\u00e4rk");
    SetEnvironmentVariableW(L"KVX_SELFTEST_UNSET", nullptr);
    Session s("main-steps", script, {"-Dapp.name=Demo App"});
    REQUIRE_VM(s);
    check(runMain(s.env, "app/Main", {L"first", L"", L"th\u00efrd"}) == 0, "main called");
    check(readFile(out) == "first\n\nth\xc3\xafrd\n", "writes-file writes the arguments");
    auto lines = s.finish();
    expectLine(lines, "cwd " + currentDir());
    expectLine(lines, "env KVX_SELFTEST_MARK=m\xc3\xa4rk");
    expectLine(lines, "env KVX_SELFTEST_UNSET unset");
    expectLine(lines, "property app.name=Demo App");
    expectLine(lines, "property java.vm.version=17.0.1+12");
    expectLine(lines, "wrote " + narrow(out));
    expectLine(lines, "arg 1 ");
    check(!hasLine(lines, "exception-describe java.lang.Error: never"), "steps end at returns");
}

bool copyInto(const std::wstring& from, const std::wstring& dir, const wchar_t* name) {
    CreateDirectoryW(dir.c_str(), nullptr);
    return CopyFileW(from.c_str(), (dir + L"\\" + name).c_str(), FALSE) != 0;
}

void dependencyThroughPath() {
    g_case = "needsdep";
    // The layout of a runtime: bin\client\jvm.dll needs bin\jvmdep.dll.
    std::wstring jre = g_tempDir + L"\\jre";
    CreateDirectoryW(jre.c_str(), nullptr);
    check(copyInto(g_testjvmDir + L"\\jvmdep.dll", jre + L"\\bin", L"jvmdep.dll"), "copy jvmdep.dll");
    check(copyInto(g_testjvmDir + L"\\jvm-needsdep\\jvm.dll", jre + L"\\bin\\client", L"jvm.dll"), "copy variant");
    std::wstring dll = jre + L"\\bin\\client\\jvm.dll";
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE first = LoadLibraryW(dll.c_str());
    DWORD error = GetLastError();
    check(first == nullptr, "does not load without jvmdep.dll on PATH");
    check(error == ERROR_MOD_NOT_FOUND, "missing module: " + std::to_string(error));
    if (first != nullptr) FreeLibrary(first);

    wchar_t oldPath[32767];
    DWORD n = GetEnvironmentVariableW(L"PATH", oldPath, 32767);
    std::wstring path = std::wstring(oldPath, n) + L";" + jre + L"\\bin\\client\\..";
    SetEnvironmentVariableW(L"PATH", path.c_str());
    SetEnvironmentVariableW(L"KVX_SELFTEST_EMPTY", L"");
    SetEnvironmentVariableW(L"KVX_SELFTEST_UNSET", nullptr);
    {
        Session s("needsdep", "record-env PATH\nrecord-env KVX_SELFTEST_EMPTY\nrecord-env KVX_SELFTEST_UNSET\n",
                  {"-Dk=v"}, nullptr, dll);
        check(s.created == JNI_OK, "created through the variant");
        auto lines = s.finish();
        expectLine(lines, "dependency jvmdep");
        expectLine(lines, "env PATH=" + narrow(path));
        expectLine(lines, "env KVX_SELFTEST_EMPTY=");
        expectLine(lines, "env KVX_SELFTEST_UNSET unset");
    }
    SetEnvironmentVariableW(L"PATH", std::wstring(oldPath, n).c_str());
    SetErrorMode(oldMode);
}

// ---- cases that end the process, run in a child ----

int childCase(const std::string& name) {
    HMODULE lib = LoadLibraryW(jvmPath().c_str());
    if (lib == nullptr) return 201;
    auto create = procAs<CreateFn>(lib, "JNI_CreateJavaVM");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    JavaVMInitArgs args{JNI_VERSION_1_2, 0, nullptr, JNI_TRUE};
    if (create(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return 202;
    if (name == "unimplemented") {
        env->MonitorEnter(env->FindClass("java/lang/Object"));
    } else if (name == "double-delete") {
        jstring s = env->NewStringUTF("x");
        env->DeleteLocalRef(s);
        env->DeleteLocalRef(s);
    } else if (name == "deleted-ref") {
        jstring s = env->NewStringUTF("x");
        env->DeleteLocalRef(s);
        env->GetStringLength(s);
    } else if (name == "foreign-env") {
        std::thread([env] { env->FindClass("java/lang/Object"); }).join();
    } else if (name == "env-after-detach") {
        vm->DetachCurrentThread();
        env->FindClass("java/lang/Object");
    } else if (name == "wrong-call") {
        jclass system = env->FindClass("java/lang/System");
        jmethodID gp = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
        env->CallStaticVoidMethod(system, gp, nullptr);
    } else if (name == "release-twice") {
        jstring s = env->NewStringUTF("x");
        const jchar* c = env->GetStringChars(s, nullptr);
        env->ReleaseStringChars(s, c);
        env->ReleaseStringChars(s, c);
    } else if (name == "exit" || name == "bad-script") {
        runMain(env, "app/Main", {L"a"});
    }
    return 200;  // not ended by the runtime
}

void childEnds(const std::string& name, const std::string& script, DWORD expectedCode, const std::string& expectedLine) {
    std::wstring log = prepareCase("child-" + name, script, "app/Main");  // also in some scripts: listed once
    std::wstring cmd = L"\"" + g_self + L"\" \"" + g_testjvmDir + L"\" --child " + widen(name);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(g_self.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        check(false, "start the child");
        return;
    }
    bool ended = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    check(ended, "child ends");
    check(code == expectedCode, "exit code " + std::to_string(code) + ", expected " + std::to_string(expectedCode));
    auto lines = splitLines(readFile(log));
    bool found = false;
    for (const auto& l : lines) found |= l.rfind(expectedLine, 0) == 0;
    check(found, "log has a line starting with: " + expectedLine);
}

void processEndingCases() {
    childEnds("unimplemented", "", 97, "UNIMPLEMENTED MonitorEnter");
    childEnds("double-delete", "", 98, "JNI-MISUSE DeleteLocalRef: deleted twice");
    childEnds("deleted-ref", "", 98, "JNI-MISUSE GetStringLength: local reference used after deletion");
    childEnds("foreign-env", "", 98, "JNI-MISUSE FindClass: JNIEnv of thread main used on another thread");
    childEnds("env-after-detach", "", 98, "JNI-MISUSE FindClass: JNIEnv of a detached thread");
    childEnds("wrong-call", "", 98, "JNI-MISUSE CallStaticVoidMethodV: method getProperty");
    childEnds("release-twice", "", 98, "JNI-MISUSE ReleaseStringChars: buffer not handed out");
    childEnds("exit", "class app/Main\nmain exit 3\n", 3, "exit 3");
    childEnds("bad-script", "class app/Main\nmain dances\n", 96, "script-error line 2: unknown main step");
    childEnds("bad-native", "class app/Main\nmain native app/Main.f (I)V static \"x\"\n", 96,
              "script-error line 2: a reference for a primitive argument");
    childEnds("unknown-routine", "class app/Main\nmain start nowhere\n", 96, "script-error unknown routine nowhere");
}

bool hasLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const auto& l : lines) {
        if (l.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

void expectLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    bool found = hasLineStarting(lines, prefix);
    check(found, "log has a line starting with: " + prefix);
    if (!found) {
        std::printf("  actual:\n");
        for (const auto& l : lines) std::printf("    %s\n", l.c_str());
    }
}

// Scripts that play Java: natives of a System.load library called with this thread's
// environment, objects in variables, callbacks from a native's own thread, Java threads.
void playingJava() {
    std::string probe = narrow(g_testjvmDir + L"\\nativeprobe.dll");
    const char* script =
        "class probe/Probe\n"
        "field n I\n"
        "field other Ljava/lang/Object;\n"
        "class app/Callback\n"
        "method onPing (I)V runs pinged\n"
        "class app/Main\n"
        "main native a = probe/Probe.make (Ljava/lang/String;)Lprobe/Probe; static \"f\\\"ur\"\n"
        "main get-field a n\n"
        "main set-field a other \"text\"\n"
        "main native probe/Probe.sum (II)I a 40 2\n"
        "main native probe/Probe.twice (I)I static -21\n"
        "main native probe/Probe.litter ()V static\n"
        "main new cb app/Callback\n"
        "main native probe/Probe.ping (Ljava/lang/Object;)V a cb\n"
        "main start worker w1\n"
        "main join w1\n"
        "main native probe/Probe.plainOnly ()V static\n"
        "main stdout after\n"
        "routine worker\n"
        "step repeat 200 native probe/Probe.sum (II)I a 1 2\n"
        "routine pinged\n"
        "step get-field a n\n"
        "step native probe/Probe.sum (II)I a 5 5\n";
    Session s("play-java", script, {"-Dkvx.app.path=" + probe});
    REQUIRE_VM(s);
    check(runMain(s.env, "app/Main", {}) == 0, "main called");
    auto lines = s.finish();
    expectLine(lines, "load " + probe);
    expectLineStarting(lines, "native-return probe/Probe.make(Ljava/lang/String;)Lprobe/Probe; = probe/Probe#");
    expectLine(lines, "field a.n = 4");
    expectLine(lines, "set-field a.other = \"text\"");
    expectLine(lines, "native-return probe/Probe.sum(II)I = 42 thread=main");
    // Found under the long name only.
    expectLine(lines, "native-return probe/Probe.twice(I)I = -42 thread=main");
    expectLine(lines, "native-return probe/Probe.litter()V = void thread=main");
    expectLineStarting(lines, "call app/Callback.onPing(I)V on app/Callback#");
    // The method's routine ran on the native's own thread, attached for the call.
    int attachAt = indexOf(lines, "attach");
    int bodyAt = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("native-return probe/Probe.sum(II)I = 10 thread=Thread-", 0) == 0) bodyAt = static_cast<int>(i);
    }
    check(attachAt >= 0 && bodyAt > attachAt && bodyAt < indexOf(lines, "detach"), "the method's routine ran attached");
    expectLine(lines, "thread-start w1");
    expectLine(lines, "repeat-done 200 probe/Probe.sum(II)I thread=w1");
    check(indexOf(lines, "thread-end w1") < indexOf(lines, "joined w1"), "join waits for the thread's end");
    if (sizeof(void*) == 4) {
        // A 32-bit runtime looks up the decorated form only.
        expectLine(lines, "native-unlinked _Java_probe_Probe_plainOnly@8 _Java_probe_Probe_plainOnly__@8");
        expectLine(lines, "exception-describe java.lang.UnsatisfiedLinkError: probe/Probe.plainOnly()V");
    } else {
        expectLine(lines, "native-return probe/Probe.plainOnly()V = void thread=main");
    }
    expectLine(lines, "destroyed global-refs=0 pinned-strings=0");
}

std::wstring parentOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    g_self = self;
    g_testjvmDir = argc > 1 ? argv[1] : parentOf(parentOf(g_self));
    if (argc > 3 && std::wstring(argv[2]) == L"--child") return childCase(narrow(argv[3]));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    g_tempDir = std::wstring(temp) + L"kvx-testjvm-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(g_tempDir.c_str(), nullptr);

    exportsOfBothKinds();
    launcherSequence();
    classesWithoutScript();
    mainFailures();
    versionVariants();
    creationFailures();
    threadsAndDestroy();
    concurrentUse();
    objectModelForNatives();
    leaksAreCounted();
    mainSteps();
    dependencyThroughPath();
    playingJava();
    processEndingCases();

    removeTree(g_tempDir);
    std::printf("testjvm selftest (%d-bit): %d passed, %d failed\n", static_cast<int>(sizeof(void*) * 8), g_passed, g_failed);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
