#pragma once
// Small JNI scopes for the tray and menu natives: local references that delete themselves,
// Java text read into ANSI text, and the field and exception steps every native shares.

#include <jni.h>

#include "base/AppString.h"

namespace kvx {

// A local reference deleted when the scope ends.
class TrayLocalRef {
public:
    TrayLocalRef(JNIEnv* env, jobject object) : env_(env), object_(object) {}
    ~TrayLocalRef() {
        if (object_) env_->DeleteLocalRef(object_);
    }
    TrayLocalRef(const TrayLocalRef&) = delete;
    TrayLocalRef& operator=(const TrayLocalRef&) = delete;
    jobject get() const { return object_; }
    jclass asClass() const { return static_cast<jclass>(object_); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    JNIEnv* env_;
    jobject object_;
};

// Clears a pending exception (a missing field or method ends a native silently).
inline void clearTrayException(JNIEnv* env) {
    if (jthrowable pending = env->ExceptionOccurred()) {
        env->ExceptionClear();
        env->DeleteLocalRef(pending);
    }
}

// The field `name` of `descriptor` in the object's class, or null (exception cleared).
inline jfieldID trayFieldOf(JNIEnv* env, jobject object, const char* name, const char* descriptor) {
    if (!object) return nullptr;
    TrayLocalRef cls(env, env->GetObjectClass(object));
    if (!cls) {
        clearTrayException(env);
        return nullptr;
    }
    jfieldID field = env->GetFieldID(cls.asClass(), name, descriptor);
    if (!field) clearTrayException(env);
    return field;
}

// Reads a Java string as ANSI text; false (and `out` empty) for a null string.
inline bool readTrayText(JNIEnv* env, jstring text, AppString& out) {
    out = AppString();
    if (!text) return false;
    jsize length = env->GetStringLength(text);
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (!chars) {
        clearTrayException(env);
        return true;  // present but unreadable: the empty text
    }
    out.assignWide(reinterpret_cast<const uint16_t*>(chars), length);
    env->ReleaseStringChars(text, chars);
    return true;
}

}  // namespace kvx
