// The single-instance channel on Windows: a named mutex in the session's namespace says who is
// first (it ends with its process however that ends), and a named pipe carries the hand-overs.
// Both admit the user alone.
#include "platform/InstanceChannel.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <new>

#include "base/Trace.h"
#include "platform/win32/ScopedHandle.h"

namespace kvx::platform {

namespace {

// Memory of LocalAlloc (ConvertSidToStringSidW's result).
class LocalText {
public:
    ~LocalText() {
        if (p_) LocalFree(p_);
    }
    wchar_t** out() { return &p_; }
    const wchar_t* get() const { return p_; }

private:
    wchar_t* p_ = nullptr;
};

// The user a process runs as, kept in `buffer`; null when it cannot be read.
PSID processUserSid(HANDLE process, GrowBuffer<unsigned char>& buffer) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return nullptr;
    ScopedHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    buffer.setLength(static_cast<int32_t>(size));
    if (size == 0 || buffer.length() != static_cast<int32_t>(size) ||
        !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
}

// The user's SID (for the pipe's name and its one access entry), kept in `buffer`.
PSID currentUserSid(GrowBuffer<unsigned char>& buffer) { return processUserSid(GetCurrentProcess(), buffer); }

// True when the process serving `pipe` runs as `user`. Pipe names are global: another user
// may have made a pipe of this name first, and must never receive this start's arguments.
bool servedBy(HANDLE pipe, PSID user, ULONG& server) {
    server = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server) || !server) return false;
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
    GrowBuffer<unsigned char> buffer;
    PSID owner = process ? processUserSid(process.get(), buffer) : nullptr;
    return owner && EqualSid(owner, user);
}

// A security descriptor whose access list admits `sid` alone; its parts live in `acl`.
bool ownerOnlyDescriptor(PSID sid, SECURITY_DESCRIPTOR& descriptor, GrowBuffer<unsigned char>& acl) {
    DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl.setLength(static_cast<int32_t>(size));
    if (acl.length() != static_cast<int32_t>(size)) return false;
    PACL list = reinterpret_cast<PACL>(acl.data());
    return InitializeAcl(list, size, ACL_REVISION) && AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, sid) &&
           InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
}

struct Channel {
    wchar_t pipeName[256];
    SECURITY_DESCRIPTOR descriptor;
    GrowBuffer<unsigned char> sid;
    GrowBuffer<unsigned char> acl;
    ScopedHandle claim;      // the session's mutex of the name, held for the process's life
    ScopedHandle listening;  // the pipe instance waiting for the next sender
    ScopedHandle stop;       // set by closeInstanceChannel
    ScopedHandle thread;
    uint32_t maxSize = 0;
    InstanceReceiver receiver = nullptr;
};

Channel* g_channel = nullptr;
bool g_closed = false;

HANDLE createPipe(Channel& channel, bool first) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &channel.descriptor, FALSE};
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeW(channel.pipeName, openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &attributes);
}

// Milliseconds left until `deadline` (a GetTickCount64 value), 0 once passed.
DWORD leftUntil(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// One overlapped read or write of exactly `size` bytes, given up at `deadline` or when `stop`
// is set. A cancelled operation is waited for, so the buffer is never written after return.
bool transfer(HANDLE pipe, bool write, void* data, DWORD size, ULONGLONG deadline, HANDLE stop) {
    auto* bytes = static_cast<unsigned char*>(data);
    ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    while (size > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        DWORD done = 0;
        BOOL ok = write ? WriteFile(pipe, bytes, size, nullptr, &overlapped)
                        : ReadFile(pipe, bytes, size, nullptr, &overlapped);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return false;
        HANDLE waits[2] = {event.get(), stop};
        DWORD waited = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, leftUntil(deadline));
        if (waited != WAIT_OBJECT_0) CancelIoEx(pipe, &overlapped);
        if (!GetOverlappedResult(pipe, &overlapped, &done, TRUE) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

// Reads one frame from a connected sender and answers it.
void serveSender(Channel& channel, HANDLE pipe) {
    ULONGLONG deadline = GetTickCount64() + INSTANCE_READ_MS;
    unsigned char header[4];
    if (!transfer(pipe, false, header, 4, deadline, channel.stop.get())) return;
    uint32_t size = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
    bool accepted = false;
    GrowBuffer<uint8_t> message;
    if (size <= channel.maxSize) {
        message.setLength(static_cast<int32_t>(size));
        if (message.length() == static_cast<int32_t>(size) &&
            (size == 0 || transfer(pipe, false, message.data(), size, deadline, channel.stop.get())))
            accepted = channel.receiver(message.data(), size, false);
    } else {
        trace("single instance: a hand-over of %u bytes is dropped", size);
    }
    unsigned char answer = accepted ? 'K' : 'R';
    if (!transfer(pipe, true, &answer, 1, deadline, channel.stop.get())) return;
    // Disconnecting discards what the sender has not read: an accepted one confirms after
    // reading; a refused one is read to its end (bounded by the deadline) until it closes.
    unsigned char confirmed = 0;
    if (accepted) {
        if (transfer(pipe, false, &confirmed, 1, deadline, channel.stop.get()) && confirmed == 'A')
            channel.receiver(message.data(), size, true);
        return;
    }
    while (transfer(pipe, false, &confirmed, 1, deadline, channel.stop.get())) {
    }
}

DWORD WINAPI channelThread(void* parameter) {
    Channel& channel = *static_cast<Channel*>(parameter);
    ScopedHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connected) return 0;
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = connected.get();
        ResetEvent(connected.get());
        HANDLE pipe = channel.listening.get();
        if (!ConnectNamedPipe(pipe, &overlapped)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                HANDLE waits[2] = {connected.get(), channel.stop.get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(pipe, &overlapped);
                    DWORD ignored;
                    GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
                    return 0;
                }
            } else if (error != ERROR_PIPE_CONNECTED) {
                return 0;
            }
        }
        // Another instance keeps the name while this one is served; senders meanwhile wait.
        ScopedHandle serving(channel.listening.release());
        channel.listening.reset(createPipe(channel, false));
        serveSender(channel, serving.get());
        DisconnectNamedPipe(serving.get());
        if (!channel.listening || WaitForSingleObject(channel.stop.get(), 0) == WAIT_OBJECT_0) return 0;
    }
}

enum class SendResult { SENT_ACCEPTED, SENT_REFUSED, NO_ANSWER, GONE };

SendResult sendToRunning(const wchar_t* pipeName, PSID user, const uint8_t* message, uint32_t size,
                         uint32_t maxSize, ULONGLONG deadline) {
    for (;;) {
        ScopedHandle pipe(CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (!pipe) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) return SendResult::GONE;
            if (error != ERROR_PIPE_BUSY || leftUntil(deadline) == 0) return SendResult::NO_ANSWER;
            WaitNamedPipeW(pipeName, leftUntil(deadline) ? leftUntil(deadline) : 1);
            continue;
        }
        // A pipe of another user's gets nothing: this start reports no answer instead.
        ULONG server = 0;
        if (!servedBy(pipe.get(), user, server)) {
            trace("single instance: the pipe is not served by this user; nothing sent");
            return SendResult::NO_ANSWER;
        }
        // The running instance may bring its window forward: this start was given the
        // foreground by the user and passes that right on.
        AllowSetForegroundWindow(server);
        unsigned char header[4] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
                                   static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
        // A message over the bound goes without its body: the receiver refuses it by its size.
        unsigned char answer = 0;
        bool sendBody = size > 0 && size <= maxSize;
        if (!transfer(pipe.get(), true, header, 4, deadline, nullptr) ||
            (sendBody && !transfer(pipe.get(), true, const_cast<uint8_t*>(message), size, deadline, nullptr)) ||
            !transfer(pipe.get(), false, &answer, 1, deadline, nullptr))
            return SendResult::NO_ANSWER;
        if (answer != 'K') return SendResult::SENT_REFUSED;
        const unsigned char confirm = 'A';
        return transfer(pipe.get(), true, const_cast<unsigned char*>(&confirm), 1, deadline + 1000, nullptr)
                   ? SendResult::SENT_ACCEPTED
                   : SendResult::NO_ANSWER;
    }
}

}  // namespace

InstanceClaim claimInstanceOrHandOver(const char* name, const uint8_t* message, uint32_t size, uint32_t maxSize,
                                      InstanceReceiver receiver) {
    auto* channel = new (std::nothrow) Channel;
    if (!channel) return InstanceClaim::UNAVAILABLE;
    PSID sid = currentUserSid(channel->sid);
    LocalText sidText;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    if (!sid || !ConvertSidToStringSidW(sid, sidText.out()) ||
        !ownerOnlyDescriptor(sid, channel->descriptor, channel->acl)) {
        delete channel;
        return InstanceClaim::UNAVAILABLE;
    }
    int n = _snwprintf(channel->pipeName, 256, L"\\\\.\\pipe\\kvx-instance-%ls-%lu-%hs", sidText.get(),
                       static_cast<unsigned long>(session), name);
    if (n < 0 || n >= 256) {
        delete channel;
        return InstanceClaim::UNAVAILABLE;
    }
    channel->maxSize = maxSize;
    channel->receiver = receiver;
    // The claim: a mutex in the session's own namespace, named like the pipe.
    wchar_t mutexName[256];
    _snwprintf(mutexName, 256, L"Local\\kvx-instance-%ls-%hs", sidText.get(), name);
    mutexName[255] = 0;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &channel->descriptor, FALSE};
    ULONGLONG deadline = GetTickCount64() + INSTANCE_ANSWER_MS;
    for (;;) {
        channel->claim.reset(CreateMutexW(&attributes, FALSE, mutexName));
        if (!channel->claim) break;  // someone else's object of that name: run on alone
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            channel->listening.reset(createPipe(*channel, true));
            channel->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (channel->listening && channel->stop)
                channel->thread.reset(CreateThread(nullptr, 0, channelThread, channel, 0, nullptr));
            if (!channel->thread) break;
            g_channel = channel;
            trace("single instance: this start holds %s", name);
            return InstanceClaim::FIRST;
        }
        // Our handle would keep the claim alive after its holder ended.
        channel->claim.reset();
        SendResult sent = sendToRunning(channel->pipeName, sid, message, size, maxSize, deadline);
        if (sent == SendResult::GONE && leftUntil(deadline) > 0) {
            // The holder has not made its pipe yet, or has just ended: look again shortly.
            Sleep(20);
            continue;
        }
        delete channel;
        if (sent == SendResult::SENT_ACCEPTED) return InstanceClaim::DELIVERED;
        return sent == SendResult::SENT_REFUSED ? InstanceClaim::REFUSED : InstanceClaim::NO_ANSWER;
    }
    trace("single instance: no channel for %s (error %lu)", name, static_cast<unsigned long>(GetLastError()));
    delete channel;
    return InstanceClaim::UNAVAILABLE;
}

void closeInstanceChannel() {
    Channel* channel = g_channel;
    if (!channel || g_closed) return;
    g_closed = true;
    SetEvent(channel->stop.get());
    // A thread that does not end in time keeps the channel: it is the process's memory then.
    if (WaitForSingleObject(channel->thread.get(), 1000) != WAIT_OBJECT_0) return;
    g_channel = nullptr;
    delete channel;
}

InstanceMonitor::InstanceMonitor() {
    static_assert(sizeof(SRWLOCK) + sizeof(CONDITION_VARIABLE) <= sizeof storage_, "monitor storage");
    InitializeSRWLock(reinterpret_cast<SRWLOCK*>(storage_));
    InitializeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_ + sizeof(SRWLOCK)));
}

InstanceMonitor::~InstanceMonitor() = default;

void InstanceMonitor::enter() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }

void InstanceMonitor::leave() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(storage_)); }

bool InstanceMonitor::wait(uint32_t ms) {
    return SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(storage_ + sizeof(SRWLOCK)),
                                     reinterpret_cast<SRWLOCK*>(storage_), ms == UINT32_MAX ? INFINITE : ms, 0) != 0;
}

void InstanceMonitor::notifyAll() {
    WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(storage_ + sizeof(SRWLOCK)));
}

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

DWORD WINAPI threadEntry(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.run(start.context);
    return 0;
}

}  // namespace

bool startInstanceThread(void (*run)(void*), void* context) {
    auto* start = new (std::nothrow) ThreadStart{run, context};
    if (!start) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, threadEntry, start, 0, nullptr));
    if (!thread) delete start;
    return static_cast<bool>(thread);
}

bool currentDirectoryWide(GrowBuffer<uint16_t>& out) {
    out.setLength(0);
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return false;
    out.setLength(static_cast<int32_t>(needed));
    if (out.length() != static_cast<int32_t>(needed)) return false;
    DWORD n = GetCurrentDirectoryW(needed, reinterpret_cast<wchar_t*>(out.data()));
    if (n == 0 || n >= needed) return false;
    out.setLength(static_cast<int32_t>(n));
    return true;
}

}  // namespace kvx::platform
