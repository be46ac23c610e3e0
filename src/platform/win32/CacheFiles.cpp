#include "platform/CacheFiles.h"

#include <windows.h>

#include "base/GrowBuffer.h"

#include "platform/Environment.h"
#include "platform/win32/ScopedHandle.h"

namespace kvx::platform {

namespace {

// Owns an initialized attribute list (its memory belongs to the caller).
class AttributeList {
public:
    explicit AttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) : list_(list) {}
    ~AttributeList() { DeleteProcThreadAttributeList(list_); }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;

private:
    LPPROC_THREAD_ATTRIBUTE_LIST list_;
};

// One argument as CommandLineToArgvW reads it back: quotes around text with spaces, tabs or
// quotes; backslashes doubled only where a quote follows them.
void appendQuoted(AppString& line, const char* arg) {
    bool plain = *arg != '\0';
    for (const char* p = arg; *p; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '"') plain = false;
    }
    if (plain) {
        line.append(arg);
        return;
    }
    line.appendChar('"');
    int backslashes = 0;
    for (const char* p = arg;; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        if (*p == '\0' || *p == '"') {
            for (int i = 0; i < backslashes * 2; ++i) line.appendChar('\\');
            if (*p == '\0') break;
            line.append("\\\"");
        } else {
            for (int i = 0; i < backslashes; ++i) line.appendChar('\\');
            line.appendChar(*p);
        }
        backslashes = 0;
    }
    line.appendChar('"');
}

}  // namespace

AppString userCacheDirectory() {
    AppString dir;
    if (!getEnv("LOCALAPPDATA", dir)) return AppString();
    return dir;
}

bool fileStamp(const char* path, FileStamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    out.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out.modified = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                        data.ftLastWriteTime.dwLowDateTime);
    return true;
}

AppString fileIdentityText(const char* path) {
    AppString text;
    if (!path) return text;
    ScopedHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    // Not the volume and file number: asking for them costs a round trip to the mount
    // manager per file under Wine (some 40 ms for 40 jars), and a file put in this one's
    // place brings change and write times of its own.
    if (!file.valid() || !GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard)) {
        return text;
    }
    text.format("%lld %lld %lld", static_cast<long long>(standard.EndOfFile.QuadPart),
                static_cast<long long>(basic.LastWriteTime.QuadPart),
                static_cast<long long>(basic.ChangeTime.QuadPart));
    return text;
}

bool writeNewFile(const char* path, const unsigned char* data, uint64_t size) {
    if (!path) return false;
    bool ok = false;
    {
        ScopedHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
        ok = true;
        while (ok && size > 0) {
            DWORD written = 0;
            const DWORD chunk = size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30);
            ok = WriteFile(file.get(), data, chunk, &written, nullptr) && written == chunk;
            data += chunk;
            size -= chunk;
        }
    }
    if (!ok) DeleteFileA(path);
    return ok;
}

bool createDirectories(const char* path) {
    if (!path || !*path) return false;
    AppString partial;
    for (const char* p = path;; ++p) {
        if ((*p == '\\' || *p == '/' || *p == '\0') && p != path) {
            // Drive roots and shares cannot be made: the final test alone decides.
            partial = AppString(path, static_cast<int32_t>(p - path));
            CreateDirectoryA(partial.c_str(), nullptr);
        }
        if (*p == '\0') break;
    }
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isPrivateDirectory(const char* path) {
    DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool createNewFile(const char* path) {
    if (!path) return false;
    ScopedHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

// The runtimes create their archives read-only, which DeleteFile and a replacing move refuse.
static void clearReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

bool removeFile(const char* path) {
    if (!path) return false;
    clearReadOnly(path);
    return DeleteFileA(path) != 0;
}

bool renameReplacing(const char* from, const char* to) {
    if (!from || !to) return false;
    clearReadOnly(to);
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

uint64_t freeDiskBytes(const char* path) {
    ULARGE_INTEGER available{};
    if (!path || !GetDiskFreeSpaceExA(path, &available, nullptr, nullptr)) return 0;
    return available.QuadPart;
}

const char* javaLauncherName() { return "java.exe"; }

uint32_t currentProcessId() { return GetCurrentProcessId(); }

bool runQuietly(const StringPool& args, uint32_t timeoutMs) {
    if (args.count() == 0) return false;
    AppString line;
    for (int32_t i = 0; i < args.count(); ++i) {
        if (i > 0) line.appendChar(' ');
        appendQuoted(line, args.entry(i));
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ScopedHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   0, nullptr));
    ScopedHandle output(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    OPEN_EXISTING, 0, nullptr));
    if (!input.valid() || !output.valid()) return false;

    // The child inherits these two handles and nothing else: whatever the application left
    // inheritable (files, pipes, sockets) stays out of a process that outlives it.
    HANDLE inherited[2] = {input.get(), output.get()};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    GrowBuffer<unsigned char> listMemory;
    listMemory.setLength(static_cast<int32_t>(listSize));
    if (listSize == 0 || listMemory.length() != static_cast<int32_t>(listSize)) return false;
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return false;
    AttributeList listOwner(list);
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr,
                                   nullptr)) {
        return false;
    }

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = output.get();
    startup.StartupInfo.hStdError = output.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(args.entry(0), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                        &info)) {
        return false;
    }
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return false;
    }
    DWORD code = 1;
    return GetExitCodeProcess(process.get(), &code) && code == 0;
}

}  // namespace kvx::platform
