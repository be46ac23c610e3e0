// What the natives of com.quorvane.kvx.SystemTray do (natives/jni exports them), the
// process-wide tray state, and the two handlers through which the tray window calls Java.
//
// Threads: Java threads run the natives, the finalizer thread runs finalize, the tray event
// window's thread runs the deliveries, the main thread (or the runtime's exit hook) removes
// everything at exit. The tray lock guards the icon table, the callback reference, the VM
// pointer and the count of running deliveries; no JNI call, Java code or shell call ever runs
// under it, so a callback may call Show, Hide, Change or Popup. That matters at exit: once a
// runtime begins to end, it blocks every other thread at its next JNI call for good, and the
// exit paths, which take the tray lock, must still get through. The reference lock keeps a
// global reference alive while a delivery copies it; the exit paths never take it. Calls on
// one icon from several threads at once reach the shell in the order of their calls, not
// necessarily in the order the table changed.

#include <windows.h>
#include <shlwapi.h>

#include <climits>
#include <memory>
#include <new>

#include "natives/TrayEventWindow.h"
#include "natives/TrayIconRecord.h"
#include "natives/TrayIconTable.h"
#include "natives/TrayJni.h"
#include "natives/TrayNatives.h"
#include "platform/win32/SrwLockScope.h"

namespace kvx {

namespace {

SRWLOCK g_trayLock = SRWLOCK_INIT;

TrayIconTable g_trayIconTable;
JavaVM* g_vm = nullptr;
// A reference of our own on the runtime library behind g_vm: the entry point frees the runtime
// before it removes the icons, and a notification still queued then would call into unmapped
// code. Released by releaseAllTrayIcons once no delivery can run any more.
HMODULE g_vmModule = nullptr;
// Deliveries between their VM check and their detach, and the signal that the count fell to
// 0; releaseAllTrayIcons waits for that, bounded, before it lets the runtime library go.
int32_t g_deliveries = 0;
CONDITION_VARIABLE g_deliveriesDone = CONDITION_VARIABLE_INIT;
// The longest releaseAllTrayIcons waits for running deliveries. After the runtime is destroyed
// none can be in Java any more; one that still runs is stuck in the runtime for good.
constexpr DWORD DELIVERY_DRAIN_MS = 1000;
// Held shared by a delivery while it makes its own references from the table's and the
// callback's, exclusively while one of those is deleted.
SRWLOCK g_refLock = SRWLOCK_INIT;
jobject g_callback = nullptr;
int32_t g_nextTrayIconId = 1;
bool g_released = false;

const char ON_MOUSE_CLICK_SIG[] = "(Lcom/quorvane/kvx/SystemTray;I)V";

}  // namespace

uint32_t probeShellVersion(const char* libraryName) {
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;  // 20
    info.dwMajorVersion = 4;
    HMODULE library = LoadLibraryA(libraryName);
    if (!library) return 4;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetVersion")));
    if (getVersion && getVersion(&info) < 0) info.dwMajorVersion = 4;
    FreeLibrary(library);
    return info.dwMajorVersion;
}

const uint32_t shellMajorVersion = probeShellVersion("shell32.dll");

namespace {

// The record handle Java keeps in `h` is the icon id: small, never reused, and looked up in
// the table, so neither a 64-bit address nor a stale or forged value ever reaches memory.
int32_t readIconHandle(JNIEnv* env, jobject self) {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    return h ? env->GetIntField(self, h) : 0;
}

bool tellShell(DWORD message, NOTIFYICONDATAA& data) { return Shell_NotifyIconA(message, &data) != FALSE; }

// Records what an add of icon `id` gave, unless the icon was hidden or finalized meanwhile. A
// failed add leaves the icon out of the shell, so that the next Show tries again.
void noteAdded(int32_t id, bool added) {
    platform::ExclusiveLockScope lock(g_trayLock);
    int32_t index = g_trayIconTable.indexOf(id);
    if (index >= 0 && g_trayIconTable.at(index).record->shown) g_trayIconTable.at(index).record->inShell = added;
}

// The environment of the delivery running on this thread, if any. A system TLS slot rather
// than thread_local, which would link the compiler's emulated TLS and its threads library into
// the launcher (about 8 KiB).
const DWORD g_deliveryEnvSlot = TlsAlloc();

JNIEnv* deliveryEnvOfThisThread() {
    return g_deliveryEnvSlot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<JNIEnv*>(TlsGetValue(g_deliveryEnvSlot));
}

void setDeliveryEnvOfThisThread(JNIEnv* env) {
    if (g_deliveryEnvSlot != TLS_OUT_OF_INDEXES) TlsSetValue(g_deliveryEnvSlot, env);
}

// Attaches the tray thread, runs `deliver` and detaches. A delivery is counted from its VM
// check to its detach, so that releaseAllTrayIcons knows when the runtime is no longer in use.
template <typename Deliver>
void deliverToCallback(Deliver deliver) {
    // A notification dispatched while a callback runs (a popup menu's loop pumps this thread's
    // messages) reuses the outer delivery's attachment: detaching after it would pull the
    // thread out from under the callback that is still running.
    if (JNIEnv* outer = deliveryEnvOfThisThread()) {
        deliver(outer);
        return;
    }
    JavaVM* vm;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        vm = g_released || !g_callback ? nullptr : g_vm;
        if (!vm) return;
        ++g_deliveries;
    }
    JNIEnv* env = nullptr;
    // After the machine is destroyed the attach fails and nothing is delivered; while it ends,
    // the attach may never return.
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == 0 && env) {
        setDeliveryEnvOfThisThread(env);
        deliver(env);
        setDeliveryEnvOfThisThread(nullptr);
        vm->DetachCurrentThread();
    }
    platform::ExclusiveLockScope lock(g_trayLock);
    if (--g_deliveries == 0) WakeAllConditionVariable(&g_deliveriesDone);
}

// Deletes a global reference that the table or the callback held, once no delivery copies it.
void deleteSharedRef(JNIEnv* env, jobject ref) {
    if (!ref) return;
    platform::ExclusiveLockScope refs(g_refLock);
    env->DeleteGlobalRef(ref);
}

// Calls `name` on the callback; a Java exception is printed and cleared before detaching.
void callCallback(JNIEnv* env, jobject callback, const char* name, const char* sig, jobject tray, jint value,
                  bool withTray) {
    TrayLocalRef cls(env, env->GetObjectClass(callback));
    if (!cls) {
        clearTrayException(env);
        return;
    }
    jmethodID method = env->GetMethodID(cls.asClass(), name, sig);
    if (!method) {
        clearTrayException(env);
        return;
    }
    if (withTray) {
        env->CallVoidMethod(callback, method, tray, value);
    } else {
        env->CallVoidMethod(callback, method, value);
    }
    // Not examined, but printed (as an uncaught exception would be) and cleared before detaching.
    if (jthrowable thrown = env->ExceptionOccurred()) {
        env->ExceptionDescribe();
        env->DeleteLocalRef(thrown);
    }
}

// The shown icon's Java object and the callback, as the caller's own global references (both
// or neither). A hidden icon, a finalized one or an id no icon has gives neither.
bool takeDeliveryRefs(JNIEnv* env, int32_t iconId, jobject& tray, jobject& callback) {
    tray = callback = nullptr;
    platform::SharedLockScope refs(g_refLock);
    jobject shownRef = nullptr;
    jobject callbackRef = nullptr;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(iconId);
        if (index >= 0) shownRef = g_trayIconTable.at(index).ref;
        callbackRef = g_callback;
    }
    if (!shownRef || !callbackRef) return false;
    tray = env->NewGlobalRef(shownRef);
    callback = env->NewGlobalRef(callbackRef);
    if (tray && callback) return true;
    if (tray) env->DeleteGlobalRef(tray);
    if (callback) env->DeleteGlobalRef(callback);
    tray = callback = nullptr;
    return false;
}

bool isShownIcon(uintptr_t iconId) {
    if (iconId > INT32_MAX) return false;
    platform::ExclusiveLockScope lock(g_trayLock);
    int32_t index = g_trayIconTable.indexOf(static_cast<int32_t>(iconId));
    return index >= 0 && g_trayIconTable.at(index).ref;
}

}  // namespace

void dispatchTrayMouse(uintptr_t iconId, intptr_t notification) {
    // Notifications for ids of no shown icon do not even attach.
    if (!isShownIcon(iconId)) return;
    deliverToCallback([&](JNIEnv* env) {
        jobject tray;
        jobject callback;
        if (!takeDeliveryRefs(env, static_cast<int32_t>(iconId), tray, callback)) return;
        callCallback(env, callback, "OnMouseClick", ON_MOUSE_CLICK_SIG, tray, static_cast<jint>(notification), true);
        env->DeleteGlobalRef(tray);
        env->DeleteGlobalRef(callback);
    });
}

void dispatchMenuCommand(uint32_t command) {
    deliverToCallback([&](JNIEnv* env) {
        jobject callback = nullptr;
        {
            platform::SharedLockScope refs(g_refLock);
            jobject callbackRef;
            {
                platform::ExclusiveLockScope lock(g_trayLock);
                callbackRef = g_callback;
            }
            if (callbackRef) callback = env->NewGlobalRef(callbackRef);
        }
        if (callback) {
            callCallback(env, callback, "OnMenuCommand", "(I)V", nullptr,
                         static_cast<jint>(command - MENU_COMMAND_FIRST), false);
            env->DeleteGlobalRef(callback);
        }
    });
}

void readdTrayIcons() {
    struct Shown {
        int32_t id;
        NOTIFYICONDATAA data;
    };
    std::unique_ptr<Shown[]> shown;
    int32_t count = 0;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_released) return;
        for (int32_t i = 0; i < g_trayIconTable.size(); ++i) {
            if (g_trayIconTable.at(i).record->shown) ++count;
        }
        if (count == 0) return;
        shown.reset(new (std::nothrow) Shown[static_cast<size_t>(count)]);
        if (!shown) return;
        count = 0;
        for (int32_t i = 0; i < g_trayIconTable.size(); ++i) {
            const TrayIconEntry& entry = g_trayIconTable.at(i);
            if (entry.record->shown) shown[count++] = Shown{entry.id, entry.record->data};
        }
    }
    // The tooltip comes back, the balloon was seen before and does not pop again.
    for (int32_t i = 0; i < count; ++i) {
        shown[i].data.uFlags = TRAY_RECORD_FLAGS_NO_BALLOON;
        noteAdded(shown[i].id, tellShell(NIM_ADD, shown[i].data));
    }
}

namespace {

// Held while the window starts, so that two threads making their first icon at once start one.
SRWLOCK g_windowStartLock = SRWLOCK_INIT;
bool g_windowStarted = false;

}  // namespace

void startTrayServices() {
    platform::ExclusiveLockScope start(g_windowStartLock);
    if (g_windowStarted) return;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_released) return;  // the launch is ending: no window for icons that cannot come
    }
    g_windowStarted = true;
    startTrayEventWindow(dispatchTrayMouse, dispatchMenuCommand, readdTrayIcons);
}

void releaseAllTrayIcons() {
    TrayIconEntry* entries;
    int32_t count;
    HMODULE runtime;
    bool drained;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_released) return;
        g_released = true;  // from now on notifications are dropped
        entries = g_trayIconTable.takeAll(count);
        runtime = g_vmModule;
        g_vmModule = nullptr;
        // Waits for the deliveries running now, bounded: one that the ending runtime blocked
        // never comes back. Later ones see the released flag.
        ULONGLONG deadline = GetTickCount64() + DELIVERY_DRAIN_MS;
        for (ULONGLONG now = GetTickCount64(); g_deliveries > 0 && now < deadline; now = GetTickCount64()) {
            SleepConditionVariableSRW(&g_deliveriesDone, &g_trayLock, static_cast<DWORD>(deadline - now), 0);
        }
        drained = g_deliveries == 0;
    }
    // Last created first; the Java references die with the virtual machine, already gone.
    for (int32_t i = count - 1; i >= 0; --i) {
        TrayIconRecord* record = entries[i].record;
        if (!record) continue;
        if (record->shown) tellShell(NIM_DELETE, record->data);
        record->shown = 0;
        if (record->data.hIcon) DestroyIcon(record->data.hIcon);
        delete record;
    }
    TrayIconTable::freeEntries(entries);
    // A delivery stuck inside the runtime keeps its code mapped: the reference goes with the process.
    if (runtime && drained) FreeLibrary(runtime);
}

void removeTrayIconsAtVmExit() {
    TrayIconEntry* entries;
    int32_t count;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_released) return;
        g_released = true;  // from now on notifications are dropped
        entries = g_trayIconTable.takeAll(count);
    }
    // Out of the table, the records are out of every native's reach. They, the icons, the
    // runtime reference and the table storage go with the process.
    for (int32_t i = count - 1; i >= 0; --i) {
        TrayIconRecord* record = entries[i].record;
        if (record && record->shown) tellShell(NIM_DELETE, record->data);
    }
}

void trayIconInit(JNIEnv* env, jobject self, jint icon, jstring tip, jstring info, jstring infoTitle,
                  jint infoType) noexcept {
    bool needVm;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        needVm = g_vm == nullptr;
    }
    if (needVm) {
        JavaVM* vm = nullptr;
        if (env->GetJavaVM(&vm) == 0 && vm) {
            HMODULE runtime = nullptr;
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCSTR>(vm->functions->AttachCurrentThread), &runtime);
            {
                platform::ExclusiveLockScope lock(g_trayLock);
                if (!g_vm && !g_released) {
                    g_vm = vm;
                    g_vmModule = runtime;
                    runtime = nullptr;
                }
            }
            if (runtime) FreeLibrary(runtime);  // another thread was first
        }
    }
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    AppString tipText, infoText, titleText;
    readTrayText(env, tip, tipText);  // a null tooltip is the empty text
    bool hasInfo = readTrayText(env, info, infoText);
    bool hasTitle = readTrayText(env, infoTitle, titleText);
    auto* record = new (std::nothrow) TrayIconRecord;
    if (!record) return;
    TrayIconTexts texts{&tipText, hasInfo ? &infoText : nullptr, hasTitle ? &titleText : nullptr};
    HICON iconHandle = loadTrayIcon(icon);
    startTrayServices();  // the icon's owner
    HWND owner = trayEventWindowHandle();
    int32_t id = 0;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_nextTrayIconId > 0) {  // after 2^31 - 1 icons no new id exists: no record
            id = g_nextTrayIconId;
            fillTrayIconRecord(*record, shellMajorVersion, owner, static_cast<UINT>(id), iconHandle, texts,
                               infoType);
            if (g_trayIconTable.append(TrayIconEntry{id, record, nullptr})) {
                g_nextTrayIconId = id == INT32_MAX ? 0 : id + 1;
            } else {
                id = 0;
            }
        }
    }
    if (id == 0) {
        if (iconHandle) DestroyIcon(iconHandle);
        delete record;
        return;
    }
    env->SetIntField(self, h, id);
}

void trayIconShow(JNIEnv* env, jobject self) noexcept {
    int32_t id = readIconHandle(env, self);
    if (id == 0) return;
    NOTIFYICONDATAA data;
    bool retry = false;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index < 0) return;
        const TrayIconRecord& record = *g_trayIconTable.at(index).record;
        if (record.shown && record.inShell) return;
        if (record.shown) {  // the shell refused the last add: again, with the reference it holds
            data = record.data;
            retry = true;
        }
    }
    if (retry) {
        noteAdded(id, tellShell(NIM_ADD, data));
        return;
    }
    jobject ref = env->NewGlobalRef(self);
    if (!ref) return;
    bool added = false;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index >= 0 && !g_trayIconTable.at(index).record->shown) {
            TrayIconEntry& entry = g_trayIconTable.at(index);
            entry.record->shown = 1;
            entry.ref = ref;
            data = entry.record->data;
            added = true;
        }
    }
    if (!added) {  // another thread showed or finalized it meanwhile
        env->DeleteGlobalRef(ref);
        return;
    }
    noteAdded(id, tellShell(NIM_ADD, data));
}

void trayIconHide(JNIEnv* env, jobject self) noexcept {
    int32_t id = readIconHandle(env, self);
    if (id == 0) return;
    NOTIFYICONDATAA data;
    jobject ref;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index < 0 || !g_trayIconTable.at(index).record->shown) return;
        TrayIconEntry& entry = g_trayIconTable.at(index);
        entry.record->shown = 0;
        entry.record->inShell = 0;
        ref = entry.ref;
        entry.ref = nullptr;
        data = entry.record->data;
    }
    tellShell(NIM_DELETE, data);
    deleteSharedRef(env, ref);
}

void trayIconChange(JNIEnv* env, jobject self, jint icon, jstring tip, jstring info, jstring infoTitle,
                    jint infoType) noexcept {
    int32_t id = readIconHandle(env, self);
    if (id == 0) return;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index < 0 || !g_trayIconTable.at(index).record->shown) return;  // nothing is remembered
    }
    AppString tipText, infoText, titleText;
    readTrayText(env, tip, tipText);
    bool hasInfo = readTrayText(env, info, infoText);
    bool hasTitle = readTrayText(env, infoTitle, titleText);
    TrayIconTexts texts{&tipText, hasInfo ? &infoText : nullptr, hasTitle ? &titleText : nullptr};
    HICON newIcon = icon > 0 ? loadTrayIcon(icon) : nullptr;
    HICON oldIcon = nullptr;
    NOTIFYICONDATAA data;
    bool modify = false;
    bool balloon = false;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index < 0 || !g_trayIconTable.at(index).record->shown) {
            oldIcon = newIcon;  // hidden meanwhile: the change is dropped
        } else {
            TrayIconRecord& record = *g_trayIconTable.at(index).record;
            if (icon > 0) {
                oldIcon = record.data.hIcon;
                record.data.hIcon = newIcon;
            }
            balloon = changeTrayIconTexts(record, texts, infoType);
            data = record.data;
            modify = true;
        }
    }
    if (!balloon) data.uFlags = TRAY_RECORD_FLAGS_NO_BALLOON;
    if (modify) tellShell(NIM_MODIFY, data);
    // Destroyed after the shell has its copy of the new one.
    if (oldIcon) DestroyIcon(oldIcon);
}

void trayIconFinalize(JNIEnv* env, jobject self) noexcept {
    int32_t id = readIconHandle(env, self);
    if (id == 0) return;
    TrayIconEntry entry;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        int32_t index = g_trayIconTable.indexOf(id);
        if (index < 0) return;
        entry = g_trayIconTable.at(index);
        g_trayIconTable.removeAt(index);
    }
    TrayIconRecord* record = entry.record;
    if (record->shown) tellShell(NIM_DELETE, record->data);
    // Only an explicit finalize() of a shown icon gets here with a reference: drop it too.
    deleteSharedRef(env, entry.ref);
    if (record->data.hIcon) DestroyIcon(record->data.hIcon);
    delete record;
}

void traySetCallback(JNIEnv* env, jobject callback) noexcept {
    jobject fresh = callback ? env->NewGlobalRef(callback) : nullptr;
    jobject previous;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        previous = g_callback;
        g_callback = fresh;
    }
    deleteSharedRef(env, previous);
}

}  // namespace kvx
