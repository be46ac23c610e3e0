#include "Process.h"

#include "Text.h"

#include <windows.h>

#include <vector>

namespace testjvm {

namespace {

std::string fromWide(const wchar_t* text, size_t length) {
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

}  // namespace

std::string currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> dir(n + 1);
    DWORD len = GetCurrentDirectoryW(n + 1, dir.data());
    return len <= n ? fromWide(dir.data(), len) : std::string();
}

std::string modulePathOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    std::vector<wchar_t> path(32768);
    DWORD len = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    return len < path.size() ? fromWide(path.data(), len) : std::string();
}

bool environmentVariable(const std::string& name, std::string& value) {
    std::u16string units = utf8ToUtf16(name);
    std::wstring wide(units.begin(), units.end());
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0) {
        value.clear();
        // An empty variable reports 0 too, without an error.
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    std::vector<wchar_t> buffer(n);
    DWORD len = GetEnvironmentVariableW(wide.c_str(), buffer.data(), n);
    value = len < n ? fromWide(buffer.data(), len) : std::string();
    return true;
}

std::string describeVariable(const std::string& name) {
    std::string value;
    return environmentVariable(name, value) ? name + "=" + value : name + " unset";
}

}  // namespace testjvm
