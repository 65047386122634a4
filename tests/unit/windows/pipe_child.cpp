// A stand-in for a browser started with --remote-debugging-pipe on Windows: reads NUL-framed
// messages from C-runtime descriptor 3 and answers each on descriptor 4 with "answer:" before it.
// Ends with 0 when descriptor 3 reaches its end, 2 when a descriptor is missing, 3 when the
// handle named on its command line (which the parent kept from it) was inherited after all.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "pipe_messages.h"

int main(int argc, char** argv)
{
    if (argc > 1) {
        HANDLE kept = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
        DWORD flags = 0;
        if (GetHandleInformation(kept, &flags) && WaitForSingleObject(kept, 0) == WAIT_OBJECT_0)
            return 3;
    }
    return answer_pipe_messages([](const std::string& message) { return PipeAnswer{"answer:" + message}; });
}
