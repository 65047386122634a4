// A stand-in for a browser started with --remote-debugging-pipe on Windows: reads NUL-framed
// messages from C-runtime descriptor 3 and answers each on descriptor 4 with "answer:" before it.
// Ends with 0 when descriptor 3 reaches its end, 2 when a descriptor is missing, 3 when the
// handle named on its command line (which the parent kept from it) was inherited after all.
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc > 1) {
        HANDLE kept = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
        DWORD flags = 0;
        if (GetHandleInformation(kept, &flags) && WaitForSingleObject(kept, 0) == WAIT_OBJECT_0)
            return 3;
    }
    HANDLE commands = reinterpret_cast<HANDLE>(_get_osfhandle(3));
    HANDLE messages = reinterpret_cast<HANDLE>(_get_osfhandle(4));
    if (commands == INVALID_HANDLE_VALUE || messages == INVALID_HANDLE_VALUE)
        return 2;
    std::string message;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(commands, &c, 1, &got, nullptr) && got == 1) {
        if (c != '\0') {
            message += c;
            continue;
        }
        std::string answer = "answer:" + message + '\0';
        DWORD written = 0;
        if (!WriteFile(messages, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr))
            return 4;
        message.clear();
    }
    return GetLastError() == ERROR_BROKEN_PIPE || got == 0 ? 0 : 5;
}
