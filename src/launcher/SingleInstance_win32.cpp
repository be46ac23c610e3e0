// Windows: the executable exports the natives of com.quorvane.kvx.SingleInstance
// (natives/jni/SingleInstanceExports.cpp); the runtime finds them when Java loads it.
#include "launcher/SingleInstance.h"

namespace kvx {

void registerSingleInstanceNatives(JavaVM*) {}

}  // namespace kvx
