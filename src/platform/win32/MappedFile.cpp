#include "platform/MappedFile.h"

#include <windows.h>

namespace kvx::platform {

MappedFile::~MappedFile() { close(); }

bool MappedFile::openTail(const char* path, uint64_t tailBytes) {
    close();
    HANDLE file = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = reinterpret_cast<intptr_t>(file);
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
    // Read to the end in chunks; only bytes actually read are kept.
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
        out.append(chunk, static_cast<int32_t>(got));
    }
    CloseHandle(file);
    return true;
}

}  // namespace kvx::platform
