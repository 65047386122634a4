#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace varne {

// A child started with a pair of pipes as its C-runtime descriptors 3 (it reads what we write)
// and 4 (we read what it writes), the way a Chromium-based browser takes --remote-debugging-pipe
// on Windows. Only those two handles are inherited; a child in `job` ends with it. Our ends are
// opened for overlapped I/O (WindowsPipeTransport).
struct CrtPipeChild {
    HANDLE process = nullptr;
    DWORD process_id = 0;
    HANDLE to_child = INVALID_HANDLE_VALUE;  // our end of descriptor 3
    HANDLE from_child = INVALID_HANDLE_VALUE;  // our end of descriptor 4
};

// Raises AutomationError (server unavailable) saying why the child could not be started. The
// caller closes the handles of the answer.
CrtPipeChild start_with_crt_pipes(const std::wstring& application, const std::wstring& command_line, HANDLE job);

// Starts a child whose standard output and error go to the file `output` (made anew) and whose
// standard input is empty, inheriting no other handle, with this process's environment and
// `variables` ("NAME=value") added; a child in `job` ends with it. Returns its process handle,
// which the caller closes, and its id. Raises AutomationError (server unavailable) saying why the
// child could not be started.
std::pair<HANDLE, DWORD> start_with_output(const std::wstring& application, const std::wstring& command_line,
                                           HANDLE job, const std::filesystem::path& output,
                                           const std::vector<std::wstring>& variables);

// One argument of a Windows command line, quoted so that the C runtime's parser splits it out again.
std::wstring command_line_quoted(const std::wstring& argument);

// The job that ends its processes when its last handle closes, as the host process's end does.
HANDLE make_kill_on_close_job();

}  // namespace varne
