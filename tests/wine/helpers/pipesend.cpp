// pipesend: sends one raw frame to the single-instance pipe of NAME, as no launcher would.
//
//   pipesend NAME DECLARED BODY [malformed]
//
// Writes the 32-bit byte count DECLARED, then BODY bytes ('x', or with "malformed" a text
// count that does not match), reads the one answer byte and prints "answer=C" (or
// "answer=none"). Exit codes: 0 answered, 1 no pipe, 2 no answer, 3 bad arguments.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) return 3;
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)) return 1;
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t name[512];
    _snwprintf(name, 512, L"\\\\.\\pipe\\kvx-instance-%ls-%lu-%hs", sid, static_cast<unsigned long>(session), argv[1]);
    HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::printf("error=no pipe %lu\n", GetLastError());
        return 1;
    }
    unsigned long declared = std::strtoul(argv[2], nullptr, 10);
    unsigned long body = std::strtoul(argv[3], nullptr, 10);
    std::string frame(reinterpret_cast<const char*>(&declared), 4);
    if (argc > 4 && std::string(argv[4]) == "malformed") {
        unsigned int words[2] = {5, 1};  // five texts announced, one short text follows
        frame.append(reinterpret_cast<const char*>(words), 8);
    } else {
        frame.append(body, 'x');
    }
    DWORD written = 0;
    WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr);
    char answer = 0;
    DWORD read = 0;
    bool got = ReadFile(pipe, &answer, 1, &read, nullptr) && read == 1;
    std::printf("answer=%s\n", got ? std::string(1, answer).c_str() : "none");
    CloseHandle(pipe);
    return got ? 0 : 2;
}
