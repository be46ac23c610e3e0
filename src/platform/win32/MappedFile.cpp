#include "platform/MappedFile.h"

#include <windows.h>

#include "platform/win32/WideModulePath.h"

namespace kvx::platform {

MappedFile::~MappedFile() { close(); }

bool MappedFile::openTail(const char* path, uint64_t tailBytes) {
    close();
    HANDLE file = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = reinterpret_cast<intptr_t>(file);
    return mapTail(tailBytes);
}

bool MappedFile::openModuleTail(uint64_t tailBytes) {
    close();
    const uint16_t* path = wideModulePathUnits();
    if (!path) return false;
    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = reinterpret_cast<intptr_t>(file);
    return mapTail(tailBytes);
}

bool MappedFile::mapTail(uint64_t tailBytes) {
    HANDLE file = reinterpret_cast<HANDLE>(file_);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return false;
    fileSize_ = static_cast<uint64_t>(size.QuadPart);
    if (fileSize_ == 0) return true;  // a mapping of an empty file cannot be created
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return false;
    mapping_ = mapping;
    // Views start at a multiple of the allocation granularity.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    uint64_t start = fileSize_ > tailBytes ? fileSize_ - tailBytes : 0;
    uint64_t aligned = start / info.dwAllocationGranularity * info.dwAllocationGranularity;
    viewSize_ = fileSize_ - aligned;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(aligned >> 32),
                               static_cast<DWORD>(aligned & 0xFFFFFFFFu), static_cast<SIZE_T>(viewSize_));
    if (!view) {
        viewSize_ = 0;
        return false;
    }
    view_ = view;
    data_ = static_cast<const unsigned char*>(view) + (start - aligned);
    size_ = fileSize_ - start;
    return true;
}

void MappedFile::close() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
    if (file_ != -1) CloseHandle(reinterpret_cast<HANDLE>(file_));
    view_ = nullptr;
    mapping_ = nullptr;
    file_ = -1;
    viewSize_ = 0;
    data_ = nullptr;
    size_ = fileSize_ = 0;
}

bool appendFileContents(const char* path, AppString& out) {
    HANDLE file = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Only a file on disk is read (no pipe, console or device), and never past the size it
    // had when opened.
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return false;
    }
    uint64_t left = static_cast<uint64_t>(size.QuadPart);
    // A short read keeps only the bytes read.
    char chunk[65536];
    while (left > 0) {
        DWORD want = left < sizeof chunk ? static_cast<DWORD>(left) : static_cast<DWORD>(sizeof chunk);
        DWORD got = 0;
        if (!ReadFile(file, chunk, want, &got, nullptr) || got == 0) break;
        out.append(chunk, static_cast<int32_t>(got));
        left -= got;
    }
    CloseHandle(file);
    return true;
}

}  // namespace kvx::platform
