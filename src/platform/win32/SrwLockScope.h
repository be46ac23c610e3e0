#pragma once
// Scoped holds of a slim reader/writer lock: the lock is released when the scope ends,
// whichever way it ends.

#include <windows.h>

namespace kvx::platform {

class SharedLockScope {
public:
    explicit SharedLockScope(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~SharedLockScope() { ReleaseSRWLockShared(&lock_); }
    SharedLockScope(const SharedLockScope&) = delete;
    SharedLockScope& operator=(const SharedLockScope&) = delete;

private:
    SRWLOCK& lock_;
};

class ExclusiveLockScope {
public:
    explicit ExclusiveLockScope(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLockScope() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLockScope(const ExclusiveLockScope&) = delete;
    ExclusiveLockScope& operator=(const ExclusiveLockScope&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace kvx::platform
