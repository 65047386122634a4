// A Windows program that stands for firefox.exe under Wine by running the host's Firefox
// (/usr/bin/firefox-esr) with its own arguments, the folder after --profile given as the host's
// name for it, and that exits with it. Wine starts a host program without a process handle, so a
// Windows host cannot wait for it or end it; this program it can: when it is ended, a watchdog of
// the host's shell kills Firefox at once (an ended process that Wine has not reaped yet counts as
// gone), as a job would end firefox.exe with all of its processes.
#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "frame/text.h"
#include "platform/transport/wine_host_program.h"

namespace {

using namespace std::chrono_literals;

std::string utf8(const std::wstring& text)
{
    return varne::to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string host_name(const std::wstring& path)
{
    using Converter = char*(__cdecl*)(const wchar_t*);
    const auto convert =
        reinterpret_cast<Converter>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
    char* name = convert ? convert(path.c_str()) : nullptr;
    if (!name)
        return utf8(path);
    std::string converted(name);
    HeapFree(GetProcessHeap(), 0, name);
    return converted;
}

// This program's pid on the host, found by its command line, which names the profile: Wine opens
// files in its server, where Z:\proc\self is the server's own.
int own_host_pid(const std::string& windows_profile)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entries("Z:\\proc", error), end; !error && entries != end;
         entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream file(entries->path() / "cmdline", std::ios::binary);
        const std::string line{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (line.find("host_firefox.exe") != std::string::npos && line.find(windows_profile) != std::string::npos)
            return std::stoi(name);
    }
    return 0;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string command = "/usr/bin/firefox-esr";
    std::string profile;
    std::string windows_profile;
    for (int i = 1; i < count; ++i) {
        const bool folder = std::wstring(arguments[i - 1]) == L"--profile";
        if (folder) {
            profile = host_name(arguments[i]);
            windows_profile = utf8(arguments[i]);
        }
        command += " " + varne::shell_quoted(folder ? profile : utf8(arguments[i]));
    }
    // The host's Firefox leaves the lock of its profile, a symbolic link that Windows programs
    // cannot remove; the shell removes it, and the folder of its own pid, as this program may
    // have been ended before it could.
    varne::WineHostProgram firefox("varne-host-firefox-");
    const std::string script =
        command + " 2>&1 & browser=$!; (while " + varne::shell_runs(std::to_string(own_host_pid(windows_profile))) +
        "; do kill -0 $browser 2>/dev/null || exit 0; sleep 0.2; done; kill -KILL "
        "$browser) </dev/null >/dev/null 2>&1 & wait $browser; rm -rf -- " +
        varne::shell_quoted(profile + "/lock") + " " + varne::shell_quoted(firefox.host_folder());
    LocalFree(arguments);
    firefox.start(script, GetStdHandle(STD_ERROR_HANDLE));
    if (!firefox.wait_for_pid(std::chrono::steady_clock::now() + 10s))
        return 3;
    while (firefox.alive())
        std::this_thread::sleep_for(50ms);
    return 0;
}
