// The exported native of com.quorvane.kvx.SingleInstance (listed in exports.txt, as the
// tray's are; no JNIEXPORT for the same reason).

#include <jni.h>

#include "launcher/SingleInstance.h"

extern "C" {

void JNICALL Java_com_quorvane_kvx_SingleInstance_nativeSetListener(JNIEnv* env, jclass, jobject listener) {
    kvx::singleInstanceSetListener(env, listener);
}

}  // extern "C"
