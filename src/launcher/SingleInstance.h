#pragma once
// The single-instance mode ("single_instance NAME"): the first start of a name runs and
// receives the working directory and arguments of every later start of it, which end at
// once; Java receives them through com.quorvane.kvx.SingleInstance.Listener, on a delivery
// thread of its own, in arrival order. Hand-overs that arrive while no listener is set wait,
// at most INSTANCE_QUEUE_MAX of them; later ones are refused.
//
// Threads: the channel's thread queues, the delivery thread calls Java, Java threads set the
// listener, the main thread starts and stops. One monitor guards the queue, the listener
// reference and the VM pointer; no JNI call and no Java code runs under it.

#include <jni.h>

#include <cstdint>

#include "base/LaunchError.h"
#include "base/WideStringList.h"

namespace kvx {

class ConfigStore;

constexpr int32_t INSTANCE_QUEUE_MAX = 32;
// The running instance of the name did not answer within platform::INSTANCE_ANSWER_MS.
constexpr LaunchError LAUNCH_INSTANCE_NO_ANSWER = 14;
// The running instance answered but dropped the hand-over (too large, or too many waiting).
constexpr LaunchError LAUNCH_INSTANCE_REFUSED = 15;

// Before anything shows: -1 when this start runs on (no name configured, the first start of
// its name, or no channel to be had); otherwise the exit code of a later start: 0 when the
// running instance took its arguments, 14 or 15 after their message was shown.
int handOverToRunningInstance(const ConfigStore& store, const WideStringList& args);
// After the runtime is gone: stops receiving and delivering. Waits at most 1 s for the
// channel's thread and 1 s for a delivery still running.
void stopSingleInstance();

// com.quorvane.kvx.SingleInstance.setListener: replaces the listener (null: none, hand-overs
// wait again) and lets waiting hand-overs go to it.
void singleInstanceSetListener(JNIEnv* env, jobject listener) noexcept;
// True when this start holds its name.
bool holdsSingleInstanceName();

// The receiving side of one message, as the channel's thread calls it: with `take` false,
// whether it would be queued; with `take` true, queues it (true: queued).
bool receiveInstanceMessage(const uint8_t* data, uint32_t size, bool take);

}  // namespace kvx
