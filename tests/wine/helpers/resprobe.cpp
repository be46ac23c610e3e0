// resprobe: reads an executable's resources through the system's own functions and prints
// what it found, one "key=value" line each (UTF-8), for the packing tests.
//
//   resprobe version FILE       GetFileVersionInfo/VerQueryValue: fixed=a.b.c.d product=... and the strings
//   resprobe icon FILE NAME     LoadImage of icon group NAME (a number or a text) at 16, 32 and 48 px
//   resprobe bitmap FILE        bitmap 100: FindResource, then LoadImage, its size
//   resprobe strings FILE       string 1 and 10 of block 1 in English, Traditional and Simplified Chinese
//   resprobe checksum FILE      MapFileAndCheckSum: header=... computed=...
// Exit codes: 0 found, 1 not found, 3 bad arguments.
#include <windows.h>
#include <imagehlp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text, int length = -1) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], bytes, nullptr, nullptr);
    if (length < 0 && !out.empty()) out.pop_back();
    return out;
}

std::wstring wide(const char* text) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(units > 0 ? units : 0, L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], units);
    if (!out.empty()) out.pop_back();
    return out;
}

class Module {
public:
    explicit Module(const std::wstring& path)
        : handle_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~Module() {
        if (handle_) FreeLibrary(handle_);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return handle_; }

private:
    HMODULE handle_;
};

int version(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return 1;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return 1;
    std::printf("fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    std::printf("product=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    DWORD* translation = nullptr;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4) {
        std::printf("translation=%04x%04x\n", LOWORD(*translation), HIWORD(*translation));
    }
    const wchar_t* keys[] = {L"FileVersion",     L"ProductVersion", L"ProductName",      L"CompanyName",
                             L"FileDescription", L"LegalCopyright", L"OriginalFilename", L"InternalName"};
    for (const wchar_t* key : keys) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
            std::printf("%s=%s\n", utf8(key).c_str(), utf8(value).c_str());
        }
    }
    return 0;
}

int icon(const std::wstring& path, const char* name) {
    Module module(path);
    if (!module.get()) return 1;
    const std::wstring text = wide(name);
    const wchar_t* resource = std::atoi(name) > 0 ? MAKEINTRESOURCEW(std::atoi(name)) : text.c_str();
    int found = 0;
    for (int side : {16, 32, 48}) {
        HICON handle = static_cast<HICON>(LoadImageW(module.get(), resource, IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
        if (!handle) continue;
        ICONINFO info{};
        BITMAP bitmap{};
        if (GetIconInfo(handle, &info)) {
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
            std::printf("icon%d=%ldx%ld\n", side, bitmap.bmWidth, bitmap.bmHeight);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            ++found;
        }
        DestroyIcon(handle);
    }
    return found == 3 ? 0 : 1;
}

int bitmap(const std::wstring& path) {
    Module module(path);
    if (!module.get()) return 1;
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(2));
    if (!found) return 1;
    std::printf("resource=%lu\n", SizeofResource(module.get(), found));
    HBITMAP handle = static_cast<HBITMAP>(LoadImageW(module.get(), MAKEINTRESOURCEW(100), IMAGE_BITMAP, 0, 0, 0));
    if (!handle) return 1;
    BITMAP info{};
    GetObjectW(handle, sizeof info, &info);
    std::printf("bitmap=%ldx%ld\n", info.bmWidth, info.bmHeight);
    DeleteObject(handle);
    return 0;
}

int strings(const std::wstring& path) {
    Module module(path);
    if (!module.get()) return 1;
    int found = 0;
    for (WORD language : {0x0409, 0x0404, 0x0804}) {
        HRSRC block = FindResourceExW(module.get(), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1), language);
        if (!block) continue;
        const auto* units = static_cast<const WCHAR*>(LockResource(LoadResource(module.get(), block)));
        if (!units) continue;
        std::string first;
        std::string caption;
        // A block holds 16 counted strings; string N of block 1 is entry N.
        for (int index = 0; index < 16; ++index) {
            const WORD count = *units++;
            if (index == 1) first = utf8(units, count);
            if (index == 10) caption = utf8(units, count);
            units += count;
        }
        std::printf("%04x.1=%s\n%04x.10=%s\n", language, first.c_str(), language, caption.c_str());
        ++found;
    }
    return found == 3 ? 0 : 1;
}

int checksum(const std::wstring& path) {
    DWORD header = 0;
    DWORD computed = 0;
    if (MapFileAndCheckSumW(path.c_str(), &header, &computed) != CHECKSUM_SUCCESS) return 1;
    std::printf("header=%lu\ncomputed=%lu\n", header, computed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 3;
    const std::string command = argv[1];
    const std::wstring path = wide(argv[2]);
    int code = 3;
    if (command == "version") code = version(path);
    if (command == "icon" && argc >= 4) code = icon(path, argv[3]);
    if (command == "bitmap") code = bitmap(path);
    if (command == "strings") code = strings(path);
    if (command == "checksum") code = checksum(path);
    std::fflush(stdout);
    return code;
}
