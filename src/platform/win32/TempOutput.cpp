#include "platform/TempOutput.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/ErrorText.h"
#include "platform/win32/SrwLockScope.h"

namespace kvx::platform {

namespace {

// The path the console handler deletes (it runs on a thread of its own).
SRWLOCK pendingLock = SRWLOCK_INIT;
char* pendingTemporary = nullptr;

BOOL WINAPI removePendingOnInterrupt(DWORD) {
    ExclusiveLockScope lock(pendingLock);
    // The file is open here with delete sharing: it goes when the process ends.
    if (pendingTemporary) DeleteFileA(pendingTemporary);
    return FALSE;  // the default handler then ends the process
}

}  // namespace

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

void setInterruptCleanup(const std::string& path) {
    static bool installed = false;
    if (!installed) installed = SetConsoleCtrlHandler(removePendingOnInterrupt, TRUE) != 0;
    char* fresh = nullptr;
    if (!path.empty()) {
        fresh = new char[path.size() + 1];
        std::memcpy(fresh, path.c_str(), path.size() + 1);
    }
    char* old;
    {
        ExclusiveLockScope lock(pendingLock);
        old = pendingTemporary;
        pendingTemporary = fresh;
    }
    delete[] old;
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

unsigned long processTag() { return static_cast<unsigned long>(GetCurrentProcessId()); }

}  // namespace kvx::platform
