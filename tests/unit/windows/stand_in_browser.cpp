// A stand-in for a Chromium-based browser of Windows started with --remote-debugging-pipe: reads
// NUL-framed commands {"id":N,...} from C-runtime descriptor 3 and answers each on descriptor 4
// with {"id":N,"result":{}}; ends after answering Browser.close, or when descriptor 3 ends.
// STAND_IN_REPORT names a file where it first writes its pid, its command line and its window
// handle (0 for none). STAND_IN_MODE: "silent" never reads, "exit" ends at once with 7, "window"
// shows a top-level window first.
#include <windows.h>

#include <cstdio>
#include <string>

#include "pipe_messages.h"

namespace {

std::string environment(const char* name)
{
    char value[1024];
    const DWORD size = GetEnvironmentVariableA(name, value, sizeof value);
    return size > 0 && size < sizeof value ? std::string(value, size) : std::string();
}

HWND show_window()
{
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"StandInBrowserWindow";
    RegisterClassW(&window_class);
    return CreateWindowExW(0, window_class.lpszClassName, L"Stand-in browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, window_class.hInstance, nullptr);
}

void report(HWND window)
{
    const std::string path = environment("STAND_IN_REPORT");
    if (path.empty())
        return;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fprintf(file, "%lu\n%s\n%lld\n", GetCurrentProcessId(), GetCommandLineA(),
                     static_cast<long long>(reinterpret_cast<intptr_t>(window)));
        std::fclose(file);
    }
}

std::string answer_to(const std::string& command)
{
    const size_t id = command.find("\"id\":");
    size_t end = id == std::string::npos ? id : command.find_first_not_of("0123456789", id + 5);
    const std::string number = id == std::string::npos ? "0" : command.substr(id + 5, end - id - 5);
    return "{\"id\":" + number + ",\"result\":{}}";
}

}  // namespace

int main()
{
    const std::string mode = environment("STAND_IN_MODE");
    report(mode == "window" ? show_window() : nullptr);
    if (mode == "exit")
        return 7;
    if (mode == "silent") {
        Sleep(INFINITE);
        return 0;
    }
    return answer_pipe_messages([](const std::string& command) {
        return PipeAnswer{answer_to(command), command.find("\"Browser.close\"") != std::string::npos};
    });
}
