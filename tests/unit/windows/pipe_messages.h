#pragma once

// The pipe side of the browser stand-ins: NUL-framed messages read from C-runtime descriptor 3,
// each answered NUL-framed on descriptor 4, as over --remote-debugging-pipe.
#include <io.h>
#include <windows.h>

#include <string>

// What a stand-in says to one message, and whether it ends once that is sent.
struct PipeAnswer {
    std::string text;
    bool last = false;
};

// Answers every message until descriptor 3 ends or an answer is the last. The exit status: 0 when
// it ends so, 2 when a descriptor is missing, 4 when an answer cannot be written, 5 when reading
// fails for another reason than the parent closing its end.
template <typename Answer>
int answer_pipe_messages(Answer answer)
{
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
        const PipeAnswer reply = answer(message);
        const std::string framed = reply.text + '\0';
        DWORD written = 0;
        if (!WriteFile(messages, framed.data(), static_cast<DWORD>(framed.size()), &written, nullptr))
            return 4;
        if (reply.last)
            return 0;
        message.clear();
    }
    return GetLastError() == ERROR_BROKEN_PIPE || got == 0 ? 0 : 5;
}
