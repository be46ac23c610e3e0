#include "jre/JavaStop.h"

#include "base/AppString.h"
#include "base/Trace.h"

namespace kvx {

namespace {

// Prints and clears a pending exception; true when there was one.
bool describeException(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

// Calls `stopMethod`; false when it names no static ()V method that returned normally.
bool callStopMethod(JNIEnv* env, const char* stopMethod) {
    AppString className(stopMethod ? stopMethod : "");
    int32_t dot = -1;
    for (int32_t i = 0; i < className.length(); ++i) {
        if (className.data()[i] == '.') dot = i;
    }
    if (dot <= 0 || dot == className.length() - 1) return false;
    AppString methodName(className.c_str() + dot + 1);
    className.setLength(dot);
    for (int32_t i = 0; i < className.length(); ++i) {
        if (className.data()[i] == '.') className.data()[i] = '/';
    }
    // A thread attached from outside finds the application's classes through the system
    // class loader, which holds the executable.
    jclass owner = env->FindClass(className.c_str());
    if (!owner) {
        describeException(env);
        return false;
    }
    jmethodID method = env->GetStaticMethodID(owner, methodName.c_str(), "()V");
    bool returned = false;
    if (method) {
        trace("stop: calling %s", stopMethod);
        env->functions->CallStaticVoidMethod(env, owner, method);
        returned = !describeException(env);
    } else {
        describeException(env);
    }
    env->DeleteLocalRef(owner);
    return returned;
}

void callSystemExit(JNIEnv* env) {
    trace("stop: calling System.exit(0)");
    jclass system = env->FindClass("java/lang/System");
    jmethodID exit = system ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
    if (exit) env->functions->CallStaticVoidMethod(env, system, exit, static_cast<jint>(0));
    describeException(env);
    if (system) env->DeleteLocalRef(system);
}

}  // namespace

void requestJavaStop(JavaVM* vm, const char* stopMethod) {
    if (!vm) return;
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || !env) {
        trace("stop: the runtime refused the thread");
        return;
    }
    if (!stopMethod || !*stopMethod || !callStopMethod(env, stopMethod)) callSystemExit(env);
    vm->DetachCurrentThread();
}

}  // namespace kvx
