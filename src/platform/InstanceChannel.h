#pragma once
// The channel between starts of one single-instance name by one user: the first start holds
// the name and receives; later starts hand a message over and end. Windows: a named pipe
// \\.\pipe\kvx-instance-<user SID>-<session>-<name>, created first-instance-only, whose
// security descriptor admits the user alone. Linux: a lock file and a Unix socket in
// $XDG_RUNTIME_DIR/kvx (else /tmp/kvx-<uid>), a folder that must be the user's own with mode
// 0700; the peer's credentials are checked on both ends. A crashed first instance leaves
// nothing that blocks: the pipe goes with its process, the lock file's lock with its holder.
//
// Frames on the wire: a 32-bit little-endian byte count and the message; the answer byte 'K'
// (will take it) or 'R' (refused); after 'K' the sender confirms with 'A', and only then is
// the message taken: a sender that gave up waiting is never delivered later.

#include <cstdint>

#include "base/GrowBuffer.h"

namespace kvx::platform {

// The longest a later start waits for the running instance (connect, send, answer), in ms.
constexpr uint32_t INSTANCE_ANSWER_MS = 5000;
// The longest the running instance waits for one sender's bytes before it drops it, in ms.
constexpr uint32_t INSTANCE_READ_MS = 2000;

enum class InstanceClaim {
    FIRST,        // this process holds the name now; messages reach the receiver
    DELIVERED,    // a running instance took the message
    REFUSED,      // a running instance answered, but dropped the message (too large, malformed, queue full)
    NO_ANSWER,    // a running instance holds the name but did not answer in time
    UNAVAILABLE,  // no channel could be had (folder not safe, name too long): run on alone
};

// Called on the channel's thread for each message of at most `maxSize` bytes: first with
// `take` false (true: it would be taken), then, once the sender confirmed, with `take` true.
// Larger messages are refused unread.
using InstanceReceiver = bool (*)(const uint8_t* data, uint32_t size, bool take);

// Claims `name` (letters, digits, '.', '_', '-') for this user, or hands `message` to the
// instance that holds it. FIRST starts the channel's thread with `receiver`. A later start
// lets the running instance take the foreground.
InstanceClaim claimInstanceOrHandOver(const char* name, const uint8_t* message, uint32_t size, uint32_t maxSize,
                                      InstanceReceiver receiver);
// Stops receiving and lets the name go, so that later starts run on their own; waits at
// most 1 s for the channel's thread. Later calls do nothing.
void closeInstanceChannel();

// A lock with one condition, for the hand-over queue between the channel's thread and the
// delivery thread.
class InstanceMonitor {
public:
    InstanceMonitor();
    ~InstanceMonitor();
    InstanceMonitor(const InstanceMonitor&) = delete;
    InstanceMonitor& operator=(const InstanceMonitor&) = delete;
    void enter();
    void leave();
    // Inside: leaves, waits for notifyAll or `ms` (UINT32_MAX: no limit), enters again.
    // False on a timeout.
    bool wait(uint32_t ms);
    void notifyAll();

private:
    alignas(16) unsigned char storage_[112];
};

class InstanceMonitorScope {
public:
    explicit InstanceMonitorScope(InstanceMonitor& monitor) : monitor_(monitor) { monitor_.enter(); }
    ~InstanceMonitorScope() { monitor_.leave(); }
    InstanceMonitorScope(const InstanceMonitorScope&) = delete;
    InstanceMonitorScope& operator=(const InstanceMonitorScope&) = delete;

private:
    InstanceMonitor& monitor_;
};

// Runs `run(context)` on a new thread that no one joins; false when none could be started.
bool startInstanceThread(void (*run)(void*), void* context);

// Replaces `out` with the current directory as UTF-16, without a closing zero; false when it
// cannot be had.
bool currentDirectoryWide(GrowBuffer<uint16_t>& out);

}  // namespace kvx::platform
