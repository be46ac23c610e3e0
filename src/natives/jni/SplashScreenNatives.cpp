// The natives of com.quorvane.kvx.SplashScreen. Every call acts on the one splash of the
// process; the Java objects carry no state. Exported by name through exports.txt, so none of
// them carries JNIEXPORT (that would add a second, differently decorated export).

#include "natives/SplashWindow.h"

#include <jni.h>

extern "C" {

jobject JNICALL Java_com_quorvane_kvx_SplashScreen_nativeGetSplashScreen(JNIEnv* env, jclass cls) noexcept {
    if (!kvx::splashWindowHandle()) return nullptr;
    jmethodID constructor = env->GetMethodID(cls, "<init>", "()V");
    if (!constructor) {
        env->ExceptionClear();  // natives end silently
        return nullptr;
    }
    jobject splash = env->NewObject(cls, constructor);
    if (!splash) env->ExceptionClear();
    return splash;
}

void JNICALL Java_com_quorvane_kvx_SplashScreen_nativeAutoClose(JNIEnv*, jobject, jint delay) noexcept {
    kvx::setAutoClose(delay);
}

void JNICALL Java_com_quorvane_kvx_SplashScreen_nativeClose(JNIEnv*, jobject) noexcept {
    kvx::requestSplashClose();
}

}  // extern "C"
