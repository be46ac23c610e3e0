// The Java API on Linux. An executable is no library that Java can load there, so the launcher
// registers the natives of com.quorvane.kvx on the classes itself, before main runs, and tells
// the classes so through the property kvx.natives (they then skip System.load). The splash
// natives act on the runtime's splash (Splash_posix.cpp); there is no tray, so the tray and
// menu natives do nothing and say so once in the trace.
#include <jni.h>

#include <atomic>

#include "base/Trace.h"
#include "launcher/Services.h"
#include "launcher/SingleInstance.h"
#include "launcher/SplashLinux.h"

namespace kvx {

namespace {

std::atomic<bool> trayTold{false};

void noTray() {
    if (!trayTold.exchange(true)) trace("no tray on Linux: SystemTray and SystemTrayMenu calls do nothing");
}

jobject JNICALL getSplashScreen(JNIEnv* env, jclass cls) {
    if (!linuxSplashShowing()) return nullptr;
    jmethodID make = env->GetMethodID(cls, "<init>", "()V");
    return make ? env->NewObject(cls, make) : nullptr;
}
void JNICALL autoClose(JNIEnv*, jobject, jint delay) { linuxSplashAutoClose(delay); }
void JNICALL closeSplash(JNIEnv*, jobject) { linuxSplashClose(); }

void JNICALL trayInit(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) { noTray(); }
void JNICALL trayChange(JNIEnv*, jobject, jint, jstring, jstring, jstring, jint) { noTray(); }
void JNICALL trayCall(JNIEnv*, jobject) { noTray(); }
void JNICALL traySetCallback(JNIEnv*, jclass, jobject) { noTray(); }
void JNICALL finalizeNothing(JNIEnv*, jobject) {}
void JNICALL menuAppendItem(JNIEnv*, jobject, jstring, jint) { noTray(); }
void JNICALL menuAppendSubmenu(JNIEnv*, jobject, jstring, jobject) { noTray(); }
void JNICALL setInstanceListener(JNIEnv* env, jclass, jobject listener) { singleInstanceSetListener(env, listener); }

#define KVX_NATIVE(name, signature, function) \
    { const_cast<char*>(name), const_cast<char*>(signature), reinterpret_cast<void*>(function) }

const JNINativeMethod SPLASH_METHODS[] = {
    KVX_NATIVE("nativeGetSplashScreen", "()Lcom/quorvane/kvx/SplashScreen;", getSplashScreen),
    KVX_NATIVE("nativeAutoClose", "(I)V", autoClose),
    KVX_NATIVE("nativeClose", "()V", closeSplash),
};
const JNINativeMethod TRAY_METHODS[] = {
    KVX_NATIVE("init", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V", trayInit),
    KVX_NATIVE("nativeChange", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/String;I)V", trayChange),
    KVX_NATIVE("nativeShow", "()V", trayCall),
    KVX_NATIVE("nativeHide", "()V", trayCall),
    KVX_NATIVE("nativeSetSystemTrayCallback", "(Lcom/quorvane/kvx/SystemTrayCallback;)V", traySetCallback),
    KVX_NATIVE("finalize", "()V", finalizeNothing),
};
const JNINativeMethod MENU_METHODS[] = {
    KVX_NATIVE("init", "()V", trayCall),
    KVX_NATIVE("nativeAppendItem", "(Ljava/lang/String;I)V", menuAppendItem),
    KVX_NATIVE("nativeAppendSubmenu", "(Ljava/lang/String;Lcom/quorvane/kvx/SystemTrayMenu;)V", menuAppendSubmenu),
    KVX_NATIVE("nativeAppendSeparator", "()V", trayCall),
    KVX_NATIVE("nativePopup", "()V", trayCall),
    KVX_NATIVE("finalize", "()V", finalizeNothing),
};

const JNINativeMethod INSTANCE_METHODS[] = {
    KVX_NATIVE("nativeSetListener", "(Lcom/quorvane/kvx/SingleInstance$Listener;)V", setInstanceListener),
};

#undef KVX_NATIVE

struct ApiClass {
    const char* name;
    const JNINativeMethod* methods;
    jint count;
};

const ApiClass API_CLASSES[] = {
    {"com.quorvane.kvx.SplashScreen", SPLASH_METHODS, sizeof SPLASH_METHODS / sizeof *SPLASH_METHODS},
    {"com.quorvane.kvx.SystemTray", TRAY_METHODS, sizeof TRAY_METHODS / sizeof *TRAY_METHODS},
    {"com.quorvane.kvx.SystemTrayMenu", MENU_METHODS, sizeof MENU_METHODS / sizeof *MENU_METHODS},
    {"com.quorvane.kvx.SingleInstance", INSTANCE_METHODS, sizeof INSTANCE_METHODS / sizeof *INSTANCE_METHODS},
};

bool failed(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

// Loads the class through the application's class loader without initialising it (its static
// initialiser reads kvx.natives, set only once every class has its natives) and registers.
bool registerClass(JNIEnv* env, jobject loader, jmethodID loadClass, const ApiClass& api) {
    jstring name = env->NewStringUTF(api.name);
    if (!name) {
        failed(env);
        return false;
    }
    jclass cls = static_cast<jclass>(env->CallObjectMethod(loader, loadClass, name));
    env->DeleteLocalRef(name);
    if (failed(env) || !cls) {
        trace("Java API natives: %s not found", api.name);
        return false;
    }
    const bool ok = env->RegisterNatives(cls, api.methods, api.count) == JNI_OK && !failed(env);
    env->DeleteLocalRef(cls);
    if (!ok) trace("Java API natives: %s does not declare them", api.name);
    return ok;
}

}  // namespace

void registerJavaApiNatives(void* javaVm) {
    JavaVM* vm = static_cast<JavaVM*>(javaVm);
    JNIEnv* env = nullptr;
    if (!vm || vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK || !env) return;
    if (env->PushLocalFrame(16) != JNI_OK) {
        failed(env);
        return;
    }
    bool all = false;
    jclass loaders = env->FindClass("java/lang/ClassLoader");
    jmethodID systemLoader =
        loaders ? env->GetStaticMethodID(loaders, "getSystemClassLoader", "()Ljava/lang/ClassLoader;") : nullptr;
    jmethodID loadClass = loaders ? env->GetMethodID(loaders, "loadClass", "(Ljava/lang/String;)Ljava/lang/Class;")
                                  : nullptr;
    jobject loader = systemLoader && loadClass ? env->CallStaticObjectMethod(loaders, systemLoader) : nullptr;
    if (!failed(env) && loader) {
        all = true;
        for (const ApiClass& api : API_CLASSES) all = registerClass(env, loader, loadClass, api) && all;
    }
    if (all) {
        jclass system = env->FindClass("java/lang/System");
        jmethodID setProperty = system ? env->GetStaticMethodID(system, "setProperty",
                                                                "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
                                       : nullptr;
        jstring key = setProperty ? env->NewStringUTF("kvx.natives") : nullptr;
        jstring value = key ? env->NewStringUTF("registered") : nullptr;
        if (value) env->CallStaticObjectMethod(system, setProperty, key, value);
        all = value && !failed(env);
    }
    failed(env);
    env->PopLocalFrame(nullptr);
    trace("Java API natives %s", all ? "registered" : "not registered: its classes act without splash and tray");
}

}  // namespace kvx
