// Linux: the runtime cannot load this executable as a library, so the launcher registers the
// natives of com.quorvane.kvx.SingleInstance itself once the runtime exists.
#include "launcher/SingleInstance.h"

namespace kvx {

namespace {

void JNICALL setListenerNative(JNIEnv* env, jclass, jobject listener) { singleInstanceSetListener(env, listener); }

}  // namespace

void registerSingleInstanceNatives(JavaVM* vm) {
    JNIEnv* env = nullptr;
    if (!holdsSingleInstanceName() || !vm || vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK)
        return;
    // An application packed without the runtime classes has no such class: nothing to do.
    jclass cls = env->FindClass("com/quorvane/kvx/SingleInstance");
    if (!cls) {
        env->ExceptionClear();
        return;
    }
    char name[] = "setListener";
    char signature[] = "(Lcom/quorvane/kvx/SingleInstance$Listener;)V";
    JNINativeMethod method{name, signature, reinterpret_cast<void*>(setListenerNative)};
    if (env->RegisterNatives(cls, &method, 1) != 0) env->ExceptionClear();
    env->DeleteLocalRef(cls);
}

}  // namespace kvx
