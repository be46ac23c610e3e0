#include "os/FileSystem.h"

#include <windows.h>

#include <vector>

#include "os/WinError.h"

// Arguments are file names and configuration values: the C runtime must not expand wildcards.
extern "C" int _dowildcard;
int _dowildcard = 0;

namespace kvxpack {

std::string windowsErrorText(unsigned long code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ' ||
                               result.back() == '.')) {
        result.pop_back();
    }
    return result;
}

HostKind hostKind() { return sizeof(void*) == 8 ? HostKind::Windows64 : HostKind::Windows32; }

std::string executablePath() {
    // GetModuleFileNameA fills the buffer to the brim when the path does not fit.
    std::vector<char> buffer(MAX_PATH);
    while (buffer.size() <= 65536) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
    return std::string();
}

std::string directoryOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = windowsErrorText(GetLastError());
        return false;
    }
    return true;
}

void removeFile(const std::string& path) { (void)DeleteFileA(path.c_str()); }

bool makeExecutable(const std::string&, std::string&) { return true; }

std::string processTag() { return std::to_string(static_cast<unsigned long>(GetCurrentProcessId())); }

}  // namespace kvxpack
