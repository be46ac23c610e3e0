#pragma once
// Asking a running Java application to end, from a native thread of our own (a service's
// stop or shutdown request).

#include <jni.h>

namespace kvx {

// Attaches the calling thread to `vm` as a daemon (the runtime's end does not wait for it),
// calls the static `()V` method `stopMethod` ("com.example.App.stop") when one is named, else
// System.exit(0), so that shutdown hooks run; System.exit(0) also follows when the method
// cannot be found or throws (the exception is printed on standard error). Detaches when Java
// returns, which System.exit never does. Nothing happens without a machine.
void requestJavaStop(JavaVM* vm, const char* stopMethod);

}  // namespace kvx
