// The exported natives of com.quorvane.kvx.SystemTray and com.quorvane.kvx.SystemTrayMenu.
// Exported by name through exports.txt beside this file, so none carries JNIEXPORT (that
// would add a second, differently decorated export).

#include <jni.h>

#include "natives/TrayNatives.h"

using namespace kvx;

extern "C" {

void JNICALL Java_com_quorvane_kvx_SystemTray_init(JNIEnv* env, jobject self, jint icon, jstring tip,
                                                               jstring info, jstring infoTitle, jint infoType) {
    trayIconInit(env, self, icon, tip, info, infoTitle, infoType);
}

void JNICALL Java_com_quorvane_kvx_SystemTray_nativeChange(JNIEnv* env, jobject self, jint icon, jstring tip,
                                                           jstring info, jstring infoTitle, jint infoType) {
    trayIconChange(env, self, icon, tip, info, infoTitle, infoType);
}

void JNICALL Java_com_quorvane_kvx_SystemTray_nativeShow(JNIEnv* env, jobject self) { trayIconShow(env, self); }

void JNICALL Java_com_quorvane_kvx_SystemTray_nativeHide(JNIEnv* env, jobject self) { trayIconHide(env, self); }

void JNICALL Java_com_quorvane_kvx_SystemTray_nativeSetSystemTrayCallback(JNIEnv* env, jclass, jobject callback) {
    traySetCallback(env, callback);
}

void JNICALL Java_com_quorvane_kvx_SystemTray_finalize(JNIEnv* env, jobject self) {
    trayIconFinalize(env, self);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_init(JNIEnv* env, jobject self) {
    trayMenuInit(env, self);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendItem(JNIEnv* env, jobject self, jstring text,
                                                                  jint id) {
    trayMenuAppendItem(env, self, text, id);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendSubmenu(JNIEnv* env, jobject self, jstring text,
                                                                     jobject submenu) {
    trayMenuAppendSubmenu(env, self, text, submenu);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendSeparator(JNIEnv* env, jobject self) {
    trayMenuAppendSeparator(env, self);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_nativePopup(JNIEnv* env, jobject self) {
    trayMenuPopup(env, self);
}

void JNICALL Java_com_quorvane_kvx_SystemTrayMenu_finalize(JNIEnv* env, jobject self) {
    trayMenuFinalize(env, self);
}

}  // extern "C"
