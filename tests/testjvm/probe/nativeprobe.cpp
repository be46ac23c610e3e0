// A library of natives for the self-test of the test JVM's Java playing: the script calls
// these through the `native` step, as a runtime calls the natives of a System.load library.
#include <jni.h>

#include <thread>

extern "C" {

jint JNICALL probe_sum(JNIEnv*, jobject, jint a, jint b) { return a + b; }

// A new object of the class made with its ()V constructor, its field n set to the text's length.
jobject JNICALL probe_make(JNIEnv* env, jclass cls, jstring text) {
    jmethodID init = env->GetMethodID(cls, "<init>", "()V");
    jfieldID n = env->GetFieldID(cls, "n", "I");
    if (!init || !n) return nullptr;
    jobject obj = env->NewObject(cls, init);
    env->SetIntField(obj, n, env->GetStringLength(text));
    return obj;
}

jint JNICALL probe_twice(JNIEnv*, jclass, jint v) { return 2 * v; }

// Calls callback.onPing(7) from a thread of its own that attaches for the call.
void JNICALL probe_ping(JNIEnv* env, jobject, jobject callback) {
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) != JNI_OK) return;
    jobject global = env->NewGlobalRef(callback);
    std::thread other([vm, global] {
        JNIEnv* own = nullptr;
        if (vm->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr) != JNI_OK) return;
        jclass cls = own->GetObjectClass(global);
        jmethodID ping = own->GetMethodID(cls, "onPing", "(I)V");
        if (ping) own->CallVoidMethod(global, ping, 7);
        own->DeleteLocalRef(cls);
        vm->DetachCurrentThread();
    });
    other.join();
    env->DeleteGlobalRef(global);
}

// Makes local references and leaves them: the runtime releases them when the native returns.
void JNICALL probe_litter(JNIEnv* env, jclass) {
    for (int i = 0; i < 3; ++i) env->NewStringUTF("litter");
}

void JNICALL probe_plain(JNIEnv*, jclass) {}

}  // extern "C"
