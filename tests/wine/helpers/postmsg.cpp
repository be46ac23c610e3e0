// Posts messages to the top-level window of a class, from outside its process, as another
// program or the system would:
//   postmsg.exe CLASS MESSAGE WPARAM LPARAM [MESSAGE WPARAM LPARAM ...]
// Numbers are decimal or 0x-hexadecimal (WPARAM may use all its bits, LPARAM may be negative).
// A MESSAGE may also be
//   send:N          message N sent, not posted: done once the window procedure returned
//   shell-add       the shell gets an icon of its own for (the window, id WPARAM), as if the
//   shell-delete    window's program had added it, or loses that icon; LPARAM is ignored
//   NAME            the registered message of that name (for example TaskbarCreated)
// Each counts as done only when the call succeeded.
// Waits up to 10 s for the window; prints "posted N" and exits 0, or 1 when it never came.
// Every window of the class gets the messages: a window of a program that just ended may
// linger in the window list for a moment and would otherwise swallow them. The windows are
// listed first and posted to after, since walking the list while such a window goes away
// ends the walk early.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Search {
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    char name[256];
    if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, search->className) == 0) {
        search->found.push_back(window);
    }
    return TRUE;
}

bool deliver(HWND window, const char* message, WPARAM w, LPARAM l) {
    if (std::strcmp(message, "shell-add") == 0 || std::strcmp(message, "shell-delete") == 0) {
        NOTIFYICONDATAA data{};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = window;
        data.uID = static_cast<UINT>(w);
        data.uFlags = NIF_ICON | NIF_TIP;
        data.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
        std::strcpy(data.szTip, "postmsg");
        return Shell_NotifyIconA(message[6] == 'a' ? NIM_ADD : NIM_DELETE, &data) != FALSE;
    }
    if (std::strncmp(message, "send:", 5) == 0) {
        DWORD_PTR result = 0;
        UINT number = static_cast<UINT>(std::strtoul(message + 5, nullptr, 0));
        return SendMessageTimeoutA(window, number, w, l, SMTO_NORMAL, 10000, &result) != 0;
    }
    UINT number = message[0] >= '0' && message[0] <= '9' ? static_cast<UINT>(std::strtoul(message, nullptr, 0))
                                                         : RegisterWindowMessageA(message);
    return number != 0 && PostMessageA(window, number, w, l);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: postmsg CLASS MESSAGE WPARAM LPARAM ...\n");
        return 2;
    }
    Search search{argv[1], {}};
    for (int waited = 0; waited < 10000; waited += 50) {
        EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty()) break;
        Sleep(50);
    }
    if (search.found.empty()) {
        std::printf("no window of class %s\n", argv[1]);
        return 1;
    }
    int best = 0;
    for (HWND window : search.found) {
        int posted = 0;
        for (int i = 2; i + 2 < argc; i += 3) {
            WPARAM w = static_cast<WPARAM>(std::strtoull(argv[i + 1], nullptr, 0));
            LPARAM l = static_cast<LPARAM>(std::strtoll(argv[i + 2], nullptr, 0));
            if (deliver(window, argv[i], w, l)) ++posted;
        }
        if (posted > best) best = posted;
    }
    std::printf("posted %d\n", best);
    return best == (argc - 2) / 3 ? 0 : 1;
}
