#include "launcher/SingleInstance.h"

#include <cstring>

#include "base/GrowBuffer.h"
#include "base/Trace.h"
#include "config/ConfigStore.h"
#include "config/ValueChecks.h"
#include "launcher/InstanceMessage.h"
#include "launcher/Messages.h"
#include "platform/InstanceChannel.h"

namespace kvx {

namespace {

const char ON_START_SIG[] = "([Ljava/lang/String;Ljava/lang/String;)V";

struct InstanceState {
    platform::InstanceMonitor monitor;
    // Hand-overs waiting, oldest first, each as its 32-bit size and its bytes.
    GrowBuffer<uint8_t> queue;
    int32_t count = 0;
    JavaVM* vm = nullptr;
    jobject listener = nullptr;  // global reference
    jobject inUse = nullptr;     // the listener a delivery is calling
    jobject retired = nullptr;   // replaced while in use: the delivery deletes it
    bool held = false;
    bool closed = false;
    bool delivering = false;
};

InstanceState g_instance;

class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject object) : env_(env), object_(object) {}
    ~LocalRef() {
        if (object_) env_->DeleteLocalRef(object_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    jobject get() const { return object_; }

private:
    JNIEnv* env_;
    jobject object_;
};

// An exception of the listener is reported as an uncaught one would be, and ends this delivery only.
bool failed(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

void deliverOne(JNIEnv* env, jobject listener, const GrowBuffer<uint8_t>& message) {
    WideStringList texts;
    if (!decodeInstanceMessage(message.data(), static_cast<uint32_t>(message.length()), texts)) return;
    LocalRef stringClass(env, env->FindClass("java/lang/String"));
    if (failed(env) || !stringClass.get()) return;
    LocalRef array(env, env->NewObjectArray(texts.count() - 1, static_cast<jclass>(stringClass.get()), nullptr));
    if (failed(env) || !array.get()) return;
    for (int32_t i = 1; i < texts.count(); ++i) {
        LocalRef text(env, env->NewString(reinterpret_cast<const jchar*>(texts.entry(i)), texts.entryLength(i)));
        if (failed(env)) return;
        env->SetObjectArrayElement(static_cast<jobjectArray>(array.get()), i - 1, text.get());
        if (failed(env)) return;
    }
    LocalRef dir(env, env->NewString(reinterpret_cast<const jchar*>(texts.entry(0)), texts.entryLength(0)));
    if (failed(env)) return;
    LocalRef cls(env, env->GetObjectClass(listener));
    jmethodID onStart = cls.get() ? env->GetMethodID(static_cast<jclass>(cls.get()), "onStart", ON_START_SIG) : nullptr;
    if (failed(env) || !onStart) return;
    env->CallVoidMethod(listener, onStart, array.get(), dir.get());
    failed(env);
}

// Delivers while hand-overs and a listener are there; the lock is held on entry and exit.
void deliverQueued(JNIEnv* env) {
    GrowBuffer<uint8_t> message;
    InstanceState& s = g_instance;
    while (!s.closed && s.count > 0 && s.listener) {
        uint32_t size;
        std::memcpy(&size, s.queue.data(), 4);
        message.setLength(0);
        if (!message.appendElements(s.queue.data() + 4, static_cast<int32_t>(size))) message.setLength(0);
        int32_t rest = s.queue.length() - 4 - static_cast<int32_t>(size);
        std::memmove(s.queue.data(), s.queue.data() + 4 + size, static_cast<size_t>(rest));
        s.queue.setLength(rest);
        --s.count;
        jobject listener = s.listener;
        s.inUse = listener;
        s.monitor.leave();
        deliverOne(env, listener, message);
        s.monitor.enter();
        s.inUse = nullptr;
        if (jobject retired = s.retired) {
            s.retired = nullptr;
            s.monitor.leave();
            env->DeleteGlobalRef(retired);
            s.monitor.enter();
        }
    }
}

// The delivery thread: attached to the runtime while it delivers, as a daemon, so that it
// never holds the runtime's end up; detached while it waits.
void deliveryThread(void*) {
    InstanceState& s = g_instance;
    platform::InstanceMonitorScope lock(s.monitor);
    for (;;) {
        while (!s.closed && (s.count == 0 || !s.listener)) s.monitor.wait(UINT32_MAX);
        if (s.closed) break;
        JavaVM* vm = s.vm;
        s.delivering = true;
        s.monitor.leave();
        JNIEnv* env = nullptr;
        char name[] = "kvx-single-instance";
        JavaVMAttachArgs attach{JNI_VERSION_1_2, name, nullptr};
        bool attached = vm && vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &attach) == JNI_OK && env;
        s.monitor.enter();
        if (attached) {
            deliverQueued(env);
            s.monitor.leave();
            vm->DetachCurrentThread();
            s.monitor.enter();
        } else {
            s.closed = true;  // the runtime is gone: nothing can be delivered any more
        }
        s.delivering = false;
        s.monitor.notifyAll();
    }
    s.delivering = false;
    s.monitor.notifyAll();
}

}  // namespace

bool receiveInstanceMessage(const uint8_t* data, uint32_t size, bool take) {
    WideStringList texts;
    if (!decodeInstanceMessage(data, size, texts)) {
        trace("single instance: a malformed hand-over of %u bytes is dropped", size);
        return false;
    }
    InstanceState& s = g_instance;
    platform::InstanceMonitorScope lock(s.monitor);
    // Only this thread adds: room seen by the check is still there when the message is taken.
    if (s.closed || s.count >= INSTANCE_QUEUE_MAX) return false;
    if (!take) return true;
    int32_t old = s.queue.length();
    if (!s.queue.appendElements(reinterpret_cast<const uint8_t*>(&size), 4) ||
        !s.queue.appendElements(data, static_cast<int32_t>(size))) {
        s.queue.setLength(old);
        return false;
    }
    ++s.count;
    s.monitor.notifyAll();
    return true;
}

int handOverToRunningInstance(const ConfigStore& store, const WideStringList& args) {
    AppString name = store.get(AppString("single_instance"));
    if (name.isEmpty()) return -1;
    // A name the packager would have refused (edited by hand): run as if none were set.
    if (!isSingleInstanceName(name.c_str())) {
        trace("single instance: the name '%s' is not used", name.c_str());
        return -1;
    }
    GrowBuffer<uint16_t> dir;
    GrowBuffer<uint8_t> message;
    // Without its working directory a hand-over still carries the arguments.
    if (!platform::currentDirectoryWide(dir)) dir.setLength(0);
    if (!encodeInstanceMessage(dir.data(), dir.length(), args, message)) return -1;
    platform::InstanceClaim claim = platform::claimInstanceOrHandOver(
        name.c_str(), message.data(), static_cast<uint32_t>(message.length()), INSTANCE_MESSAGE_MAX,
        receiveInstanceMessage);
    switch (claim) {
    case platform::InstanceClaim::FIRST: {
        platform::InstanceMonitorScope lock(g_instance.monitor);
        g_instance.held = true;
        if (!platform::startInstanceThread(deliveryThread, nullptr)) g_instance.closed = true;
        return -1;
    }
    case platform::InstanceClaim::UNAVAILABLE:
        return -1;
    case platform::InstanceClaim::DELIVERED:
        trace("single instance: handed over to the running %s", name.c_str());
        return 0;
    case platform::InstanceClaim::REFUSED:
        showLaunchError(LAUNCH_INSTANCE_REFUSED);
        return LAUNCH_INSTANCE_REFUSED;
    case platform::InstanceClaim::NO_ANSWER:
        break;
    }
    showLaunchError(LAUNCH_INSTANCE_NO_ANSWER);
    return LAUNCH_INSTANCE_NO_ANSWER;
}

void stopSingleInstance() {
    InstanceState& s = g_instance;
    {
        platform::InstanceMonitorScope lock(s.monitor);
        if (!s.held) return;
    }
    platform::closeInstanceChannel();
    platform::InstanceMonitorScope lock(s.monitor);
    s.closed = true;
    s.monitor.notifyAll();
    while (s.delivering) {
        if (!s.monitor.wait(1000)) break;
    }
}

bool holdsSingleInstanceName() {
    platform::InstanceMonitorScope lock(g_instance.monitor);
    return g_instance.held;
}

void singleInstanceSetListener(JNIEnv* env, jobject listener) noexcept {
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) != 0) vm = nullptr;
    jobject ref = listener ? env->NewGlobalRef(listener) : nullptr;
    if (listener && !ref) return;
    jobject drop;
    {
        InstanceState& s = g_instance;
        platform::InstanceMonitorScope lock(s.monitor);
        drop = s.listener;
        s.listener = ref;
        if (vm) s.vm = vm;
        // The delivery that calls the old listener deletes it when the call has returned.
        if (drop && drop == s.inUse) {
            jobject earlier = s.retired;
            s.retired = drop;
            drop = earlier;
        }
        s.monitor.notifyAll();
    }
    if (drop) env->DeleteGlobalRef(drop);
}

}  // namespace kvx
