#pragma once
// Owns one kernel handle. The failure values of the Windows calls (null and
// INVALID_HANDLE_VALUE) both mean "no handle".

#include <windows.h>

namespace kvx::platform {

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h = nullptr) : h_(normal(h)) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(HANDLE h = nullptr) {
        if (h_) CloseHandle(h_);
        h_ = normal(h);
    }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }

private:
    static HANDLE normal(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

    HANDLE h_;
};

}  // namespace kvx::platform
