// What the natives of com.quorvane.kvx.SystemTrayMenu do (natives/jni exports them): native popup menus whose chosen item comes
// back through the tray event window as WM_COMMAND (item id + 50000).

#include <windows.h>

#include "natives/TrayEventWindow.h"
#include "natives/TrayJni.h"
#include "natives/TrayNatives.h"

namespace kvx {
namespace {

// Menus are window-manager handles, whose values fit 32 bits on 64-bit Windows too (the
// system keeps them sign-extended), so `h` holds the handle itself.
jint menuToInt(HMENU menu) { return static_cast<jint>(reinterpret_cast<intptr_t>(menu)); }
HMENU intToMenu(jint value) { return reinterpret_cast<HMENU>(static_cast<intptr_t>(value)); }

// Appends one item after the last; a failure is ignored.
void insertItem(HMENU menu, UINT mask, UINT type, UINT id, HMENU submenu, const AppString* text) {
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;  // 44 on 32-bit Windows, the same layout's size on 64-bit
    item.fMask = mask;
    item.fType = type;
    item.wID = id;
    item.hSubMenu = submenu;
    item.dwTypeData = text ? const_cast<char*>(text->c_str()) : nullptr;
    InsertMenuItemA(menu, static_cast<UINT>(-1), TRUE, &item);
}

}  // namespace

void trayMenuInit(JNIEnv* env, jobject self) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    env->SetIntField(self, h, menuToInt(CreatePopupMenu()));
}

void trayMenuAppendItem(JNIEnv* env, jobject self, jstring text, jint id) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    HMENU menu = intToMenu(env->GetIntField(self, h));
    AppString label;
    readTrayText(env, text, label);  // a null text is an empty label
    insertItem(menu, MIIM_ID | MIIM_TYPE, MFT_STRING, static_cast<UINT>(id) + MENU_COMMAND_FIRST, nullptr, &label);
}

void trayMenuAppendSubmenu(JNIEnv* env, jobject self, jstring text, jobject submenu) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    jfieldID popups = trayFieldOf(env, self, "popups", "Ljava/util/HashSet;");
    if (!popups) return;
    if (!submenu) return;  // no menu to attach: reading its field would be a JNI fault
    HMENU menu = intToMenu(env->GetIntField(self, h));
    HMENU child = intToMenu(env->GetIntField(submenu, h));
    TrayLocalRef set(env, env->GetObjectField(self, popups));
    if (set) {
        TrayLocalRef setClass(env, env->GetObjectClass(set.get()));
        jmethodID add = setClass ? env->GetMethodID(setClass.asClass(), "add", "(Ljava/lang/Object;)Z") : nullptr;
        if (add) env->CallBooleanMethod(set.get(), add, submenu);
        clearTrayException(env);
    }
    AppString label;
    readTrayText(env, text, label);
    insertItem(menu, MIIM_SUBMENU | MIIM_TYPE, MFT_STRING, 0, child, &label);
}

void trayMenuAppendSeparator(JNIEnv* env, jobject self) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    if (!trayFieldOf(env, self, "popups", "Ljava/util/HashSet;")) return;
    insertItem(intToMenu(env->GetIntField(self, h)), MIIM_TYPE, MFT_SEPARATOR, 0, nullptr, nullptr);
}

void trayMenuPopup(JNIEnv* env, jobject self) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    // Handed to the tray thread, whichever Java thread calls (a callback, main, the Swing thread).
    startTrayServices();
    popupTrayMenu(intToMenu(env->GetIntField(self, h)));
}

void trayMenuFinalize(JNIEnv* env, jobject self) noexcept {
    jfieldID h = trayFieldOf(env, self, "h", "I");
    if (!h) return;
    HMENU menu = intToMenu(env->GetIntField(self, h));
    // DestroyMenu would destroy the submenus inside as well, which other menus (and Java,
    // through `popups`) may still use: they are detached first and each is destroyed when its
    // own object is finalized.
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        if (GetSubMenu(menu, i)) RemoveMenu(menu, static_cast<UINT>(i), MF_BYPOSITION);
    }
    DestroyMenu(menu);
}

}  // namespace kvx
