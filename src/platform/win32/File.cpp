#include "platform/File.h"

#include <windows.h>

#include "platform/win32/ErrorText.h"

namespace kvx::platform {

namespace {

HANDLE native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces of this size.
constexpr std::size_t MAX_TRANSFER = 1u << 30;

// "\\.\NAME" and "\\?\GLOBALROOT..." reach devices and pipes; opening one may act (a pipe
// client connects), so such names are judged by their form alone.
bool isDeviceNamespace(const std::string& path) {
    return path.size() >= 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
           path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

// The reserved DOS device names (CON, NUL, COM1, ... in any folder and with any extension).
bool isReservedDeviceName(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/:");
    std::string name = path.substr(cut == std::string::npos ? 0 : cut + 1);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    static const char* const RESERVED[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* reserved : RESERVED) {
        if (name == reserved) return true;
    }
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

}  // namespace

FileKind fileKind(const std::string& path) {
    if (isDeviceNamespace(path) || isReservedDeviceName(path)) return FileKind::Device;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileKind::Missing : FileKind::Other;
    }
    // Links followed: what the path finally names decides.
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileKind::Missing : FileKind::Other;
    }
    FileKind kind = FileKind::Other;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_CHAR) {
        kind = FileKind::Device;
    } else if (type == FILE_TYPE_PIPE) {
        kind = FileKind::Fifo;
    } else if (type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
    }
    CloseHandle(handle);
    return kind;
}

const char* fileKindText(FileKind kind) {
    switch (kind) {
        case FileKind::Missing: return "missing";
        case FileKind::Regular: return "a regular file";
        case FileKind::Directory: return "a directory";
        case FileKind::Fifo: return "a pipe";
        case FileKind::Device: return "a device";
        case FileKind::Socket: return "a socket";
        case FileKind::Other: break;
    }
    return "not a regular file";
}

bool finalLinkTarget(const std::string& path, std::string& target, std::string& error) {
    target = path;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A link whose target is missing: replacing it would replace the link itself.
        error = "cannot follow the link " + path + ": " + windowsErrorText(GetLastError());
        return false;
    }
    char buffer[32768];
    const DWORD length = GetFinalPathNameByHandleA(handle, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    const DWORD code = GetLastError();
    CloseHandle(handle);
    if (length == 0 || length >= sizeof buffer) {
        error = "cannot follow the link " + path + ": " + windowsErrorText(code);
        return false;
    }
    std::string resolved(buffer, length);
    // "\\?\C:\dir\f" -> "C:\dir\f"; "\\?\UNC\server\share" -> "\\server\share".
    if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0) {
        resolved = "\\\\" + resolved.substr(8);
    } else if (resolved.compare(0, 4, "\\\\?\\") == 0) {
        resolved = resolved.substr(4);
    }
    target = resolved;
    return true;
}

File::~File() { release(); }

void File::release() {
    if (handle_ != INVALID) CloseHandle(native(handle_));
    handle_ = INVALID;
}

void File::recordSystemError() { error_ = windowsErrorText(GetLastError()); }

bool File::openRead(const std::string& path) {
    release();
    const FileKind before = fileKind(path);
    if (before != FileKind::Regular && before != FileKind::Missing && before != FileKind::Other) {
        error_ = std::string("it is ") + fileKindText(before) + ", not a regular file";
        return false;
    }
    HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        recordSystemError();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(opened);
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        error_ = "it is not a regular file";
        release();
        return false;
    }
    return true;
}

bool File::createNew(const std::string& path) {
    release();
    nameTaken_ = false;
    // Shared for deletion: the Ctrl-C handler deletes the file while it is still open here.
    HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // A positioned write moves the file pointer: put it back at the end afterwards.
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(native(handle_), LARGE_INTEGER{}, &end, FILE_END)) {
        recordSystemError();
        return false;
    }
    while (length > 0) {
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
    if (!SetFilePointerEx(native(handle_), end, nullptr, FILE_BEGIN)) {
        recordSystemError();
        return false;
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

// Windows reads through the caller's buffer.
void FileView::release() {
    base_ = nullptr;
    mapped_ = 0;
    data_ = nullptr;
}

bool FileView::map(const File&, std::uint64_t, std::size_t) { return false; }

}  // namespace kvx::platform
