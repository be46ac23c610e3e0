// closebox: waits for a message box of another process, reports what it shows and closes it.
//
//   closebox [--timeout-ms N] [--exe NAME.exe] [--title CAPTION] [--press ID]
//
// Waits for a visible top-level window of class "#32770" (optionally of a process whose image
// is NAME.exe, optionally with the exact caption), prints it as UTF-8 "key=value" lines
//   caption=...  text=...  buttons=1,2  icon=1  owner=0  owner_class=...  waited_ms=...  closed_ms=...
// (backslash, CR and LF in values escaped as \\ \r \n), then presses its OK button
// (WM_COMMAND IDOK, or the button --press names: 6 Yes, 7 No) and, should the box still be there a moment later, sends WM_CLOSE.
// Exit codes: 0 closed, 1 no such box within the time, 2 the box stayed, 3 bad arguments.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Options {
    DWORD timeoutMs = 20000;
    std::wstring exe;
    std::wstring title;
    bool hasTitle = false;
    int press = IDOK;
};

class ProcessHandle {
public:
    explicit ProcessHandle(DWORD pid) : handle_(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {}
    ~ProcessHandle() {
        if (handle_) CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::wstring windowText(HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
    int got = GetWindowTextW(hwnd, buffer.data(), n + 1);
    return std::wstring(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

std::wstring className(HWND hwnd) {
    wchar_t buffer[64] = {};
    int n = GetClassNameW(hwnd, buffer, 64);
    return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

// The file name of the process's image, without its directory.
std::wstring imageName(DWORD pid) {
    ProcessHandle process(pid);
    if (!process.get()) return std::wstring();
    std::vector<wchar_t> buffer(32768);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size)) return std::wstring();
    std::wstring path(buffer.data(), size);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

struct Search {
    const Options* options;
    HWND found = nullptr;
};

BOOL CALLBACK considerWindow(HWND hwnd, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(hwnd) || className(hwnd) != L"#32770") return TRUE;
    if (search.options->hasTitle && windowText(hwnd) != search.options->title) return TRUE;
    if (!search.options->exe.empty()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (_wcsicmp(imageName(pid).c_str(), search.options->exe.c_str()) != 0) return TRUE;
    }
    search.found = hwnd;
    return FALSE;
}

struct Content {
    std::wstring text;
    std::wstring buttons;
    bool icon = false;
};

BOOL CALLBACK readChild(HWND child, LPARAM param) {
    Content& content = *reinterpret_cast<Content*>(param);
    std::wstring cls = className(child);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (SendMessageW(child, STM_GETICON, 0, 0)) content.icon = true;
        } else if (content.text.empty()) {
            content.text = windowText(child);
        }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
        if (!content.buttons.empty()) content.buttons += L",";
        content.buttons += std::to_wstring(GetDlgCtrlID(child));
    }
    return TRUE;
}

void writeUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One "key=value" line; the value's line breaks and backslashes are escaped.
void writeField(const wchar_t* key, const std::wstring& value) {
    std::wstring line = key;
    line += L"=";
    for (wchar_t c : value) {
        if (c == L'\\') line += L"\\\\";
        else if (c == L'\n') line += L"\\n";
        else if (c == L'\r') line += L"\\r";
        else line += c;
    }
    line += L"\n";
    writeUtf8(line);
}

bool parse(Options& options) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--timeout-ms" && hasValue) options.timeoutMs = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg == L"--exe" && hasValue) options.exe = argv[++i];
        else if (arg == L"--press" && hasValue) options.press = _wtoi(argv[++i]);
        else if (arg == L"--title" && hasValue) {
            options.title = argv[++i];
            options.hasTitle = true;
        } else ok = false;
    }
    LocalFree(argv);
    return ok;
}

// Waits until `hwnd` is gone; false after `ms` milliseconds.
bool waitGone(HWND hwnd, DWORD ms) {
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start >= ms) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace

int main() {
    Options options;
    if (!parse(options)) {
        writeUtf8(L"usage: closebox [--timeout-ms N] [--exe NAME.exe] [--title CAPTION] [--press ID]\n");
        return 3;
    }
    // The box belongs to another process that starts at about the same time: look for it
    // every 25 ms, which is well below what a test notices.
    Search search{&options};
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(considerWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        if (GetTickCount() - start >= options.timeoutMs) {
            writeField(L"error", L"no message box");
            return 1;
        }
        Sleep(25);
    }
    HWND box = search.found;
    // The box fills in its controls while it initialises; give it a moment to finish.
    Sleep(100);
    Content content;
    EnumChildWindows(box, readChild, reinterpret_cast<LPARAM>(&content));
    HWND owner = GetWindow(box, GW_OWNER);
    writeField(L"caption", windowText(box));
    writeField(L"text", content.text);
    writeField(L"buttons", content.buttons);
    writeField(L"icon", content.icon ? L"1" : L"0");
    writeField(L"owner", owner ? L"1" : L"0");
    writeField(L"owner_class", owner ? className(owner) : std::wstring());
    writeField(L"waited_ms", std::to_wstring(GetTickCount() - start));

    HWND ok = GetDlgItem(box, options.press);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(options.press, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    DWORD pressed = GetTickCount();
    if (waitGone(box, 3000)) {
        writeField(L"closed_ms", std::to_wstring(GetTickCount() - pressed));
        return 0;
    }
    PostMessageW(box, WM_CLOSE, 0, 0);
    if (waitGone(box, 3000)) return 0;
    writeField(L"error", L"message box stayed open");
    return 2;
}
