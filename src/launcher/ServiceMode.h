#pragma once
// A start as a service: decided by the entry point before anything else. The launch itself
// is the ordinary one; this wraps it (platform/ServiceControl.h does the system's part).

#include <jni.h>

#include "base/AppString.h"
#include "platform/ServiceControl.h"

namespace kvx {

class ConfigStore;

// The `service` name: the first value of the key that is not a line of `service_log` or
// `service_stop` (the key match is by prefix, so those lines are values of `service` too).
AppString serviceNameOf(const ConfigStore& store);

// Reads the service keys. With a `service` name, when the service manager started the
// process: runs `launchBody` as the service and returns true with its exit code once the
// service stopped. False otherwise: the caller runs the launch as an application.
bool runAsServiceWhenStarted(const ConfigStore& store, platform::ServiceBody launchBody, int& exitCode);

// The runtime's life, for JvmHost::setVmHook: right before main, the manager learns that the
// service runs (Linux: READY=1 when NOTIFY_SOCKET is set) and a stop may reach Java from now
// on; after the machine is gone, no stop tries it.
void serviceVmHook(JavaVM* vm);

}  // namespace kvx
