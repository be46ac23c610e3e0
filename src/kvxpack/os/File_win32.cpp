#include "os/File.h"

#include <windows.h>

#include "os/WinError.h"

namespace kvxpack {

namespace {
HANDLE native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces of this size.
constexpr std::size_t MAX_TRANSFER = 1u << 30;
}  // namespace

File::~File() { release(); }

void File::release() {
    if (handle_ != INVALID) CloseHandle(native(handle_));
    handle_ = INVALID;
}

void File::recordSystemError() { error_ = windowsErrorText(GetLastError()); }

bool File::openRead(const std::string& path) {
    release();
    HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        recordSystemError();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(opened);
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        error_ = "not a regular file";
        release();
        return false;
    }
    return true;
}

bool File::createNew(const std::string& path) {
    release();
    HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        nameTaken_ = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        error_ = windowsErrorText(code);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(created);
    return true;
}

bool File::size(std::uint64_t& bytes) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(native(handle_), &value)) {
        recordSystemError();
        return false;
    }
    bytes = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool File::readAt(std::uint64_t offset, void* buffer, std::size_t length) {
    auto* into = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD wanted = static_cast<DWORD>(length < MAX_TRANSFER ? length : MAX_TRANSFER);
        DWORD got = 0;
        if (!ReadFile(native(handle_), into, wanted, &got, &at)) {
            const DWORD code = GetLastError();
            if (code != ERROR_HANDLE_EOF) {
                error_ = windowsErrorText(code);
                return false;
            }
            got = 0;
        }
        if (got == 0) {
            error_ = "the file ended early (was it changed while being read?)";
            return false;
        }
        into += got;
        offset += got;
        length -= got;
    }
    return true;
}

bool File::write(const void* data, std::size_t length) {
    const auto* from = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const DWORD wanted = static_cast<DWORD>(length < MAX_TRANSFER ? length : MAX_TRANSFER);
        DWORD put = 0;
        if (!WriteFile(native(handle_), from, wanted, &put, nullptr) || put == 0) {
            recordSystemError();
            return false;
        }
        from += put;
        length -= put;
    }
    return true;
}

bool File::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    const auto* from = static_cast<const unsigned char*>(data);
    while (length > 0) {
        // The file pointer moves with a positioned write; the caller patches only once it is done appending.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD wanted = static_cast<DWORD>(length < MAX_TRANSFER ? length : MAX_TRANSFER);
        DWORD put = 0;
        if (!WriteFile(native(handle_), from, wanted, &put, &at) || put == 0) {
            recordSystemError();
            return false;
        }
        from += put;
        offset += put;
        length -= put;
    }
    return true;
}

bool File::close() {
    if (handle_ == INVALID) return true;
    const BOOL closed = CloseHandle(native(handle_));
    handle_ = INVALID;
    if (!closed) {
        recordSystemError();
        return false;
    }
    return true;
}

}  // namespace kvxpack
