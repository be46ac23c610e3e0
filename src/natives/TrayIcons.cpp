// What the natives of com.quorvane.kvx.SystemTray do (natives/jni exports them), the
// process-wide tray state, and the two handlers through which the tray window calls Java.
//
// Threads: Java threads run the natives, the finalizer thread runs finalize, the tray event
// window's thread runs the deliveries, the main thread releases everything at exit. One lock
// guards the icon table, the callback reference and the VM pointer. It is never held while
// Java code or the shell runs (only JNI reference calls, which run no Java code, happen under
// it), so a callback may call Show, Hide, Change or Popup, and a finalize cannot race a
// delivery. Calls on one icon from several threads at once reach the shell in the order of
// their calls, not necessarily in the order the table changed.

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
// Held shared by each delivery from its VM check to its detach, exclusively by
// releaseAllTrayIcons before it lets the runtime library go.
SRWLOCK g_deliveryLock = SRWLOCK_INIT;
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

// The environment of the delivery running on this thread, if any.
thread_local JNIEnv* t_deliveryEnv = nullptr;

// Attaches the tray thread, runs `deliver` with the callback (a global reference of its own,
// so a concurrent setSystemTrayCallback cannot delete it under us) and detaches.
template <typename Deliver>
void deliverToCallback(Deliver deliver) {
    // A notification dispatched while a callback runs (a popup menu's loop pumps this thread's
    // messages) reuses the outer delivery's attachment: detaching after it would pull the
    // thread out from under the callback that is still running.
    if (t_deliveryEnv) {
        deliver(t_deliveryEnv);
        return;
    }
    platform::SharedLockScope delivering(g_deliveryLock);
    JavaVM* vm;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        vm = g_released ? nullptr : g_vm;
        if (!g_callback) vm = nullptr;
    }
    JNIEnv* env = nullptr;
    // After the machine is destroyed the attach fails and nothing is delivered.
    if (vm && vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == 0 && env) {
        t_deliveryEnv = env;
        deliver(env);
        t_deliveryEnv = nullptr;
        vm->DetachCurrentThread();
    }
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

}  // namespace

void dispatchTrayMouse(uintptr_t iconId, intptr_t notification) {
    deliverToCallback([&](JNIEnv* env) {
        jobject callback = nullptr;
        jobject tray = nullptr;
        bool found = false;
        {
            platform::ExclusiveLockScope lock(g_trayLock);
            int32_t index = iconId <= INT32_MAX ? g_trayIconTable.indexOf(static_cast<int32_t>(iconId)) : -1;
            if (index >= 0 && g_callback) {
                found = true;
                callback = env->NewGlobalRef(g_callback);
                jobject shownRef = g_trayIconTable.at(index).ref;
                if (shownRef) tray = env->NewGlobalRef(shownRef);
            }
        }
        if (found && callback) {
            callCallback(env, callback, "OnMouseClick", ON_MOUSE_CLICK_SIG, tray, static_cast<jint>(notification),
                         true);
        }
        if (tray) env->DeleteGlobalRef(tray);
        if (callback) env->DeleteGlobalRef(callback);
    });
}

void dispatchMenuCommand(uint32_t command) {
    deliverToCallback([&](JNIEnv* env) {
        jobject callback = nullptr;
        {
            platform::ExclusiveLockScope lock(g_trayLock);
            if (g_callback) callback = env->NewGlobalRef(g_callback);
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

void startTrayServices() { startTrayEventWindow(dispatchTrayMouse, dispatchMenuCommand, readdTrayIcons); }

void releaseAllTrayIcons() {
    TrayIconEntry* entries;
    int32_t count;
    HMODULE runtime;
    {
        platform::ExclusiveLockScope lock(g_trayLock);
        if (g_released) return;
        g_released = true;  // from now on notifications are dropped
        entries = g_trayIconTable.takeAll(count);
        runtime = g_vmModule;
        g_vmModule = nullptr;
    }
    // Waits for a delivery that is running now; later ones see the released flag.
    AcquireSRWLockExclusive(&g_deliveryLock);
    ReleaseSRWLockExclusive(&g_deliveryLock);
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
    if (runtime) FreeLibrary(runtime);
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
    if (ref) env->DeleteGlobalRef(ref);
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
    if (entry.ref) env->DeleteGlobalRef(entry.ref);
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
    if (previous) env->DeleteGlobalRef(previous);
}

}  // namespace kvx
