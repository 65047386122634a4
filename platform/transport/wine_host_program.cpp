#include "platform/transport/wine_host_program.h"

#include "frame/text.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/output_tail.h"
#include "platform/transport/server_unavailable.h"

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace varne {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 20ms;
constexpr auto kKillTimeout = 5000ms;
constexpr size_t kTailLines = 5;

// The watchdog, in perl: Wine hands the socket over non-blocking, which a shell's read would take
// for its end at once, so it waits in select() and leaves the flags, which every holder of the
// socket shares, as they are; a read that fails leaves the program alone. Once the program has
// exited, its other processes may still write into the folder, so the folder goes once no other
// process names a file in it. One line, for the command line that Wine passes on.
constexpr const char* kWatchdog =
    "my ($program, $folder, $keeps_running) = @ARGV; my $read;"
    " while (1) { my $ready = ''; vec($ready, 0, 1) = 1; select($ready, undef, undef, undef);"
    " $read = sysread(STDIN, my $byte, 1); last if defined $read; exit 0 unless $!{EAGAIN} || $!{EINTR}; }"
    " sub runs { open(my $stat, '<', \"/proc/$_[0]/stat\") or return 0; return <$stat> !~ /.*\\) Z/s; }"
    " sub folder_named { for my $file (glob '/proc/[0-9]*/cmdline') {"
    " next if $file eq \"/proc/$$/cmdline\"; open(my $line, '<', $file) or next; local $/;"
    " return 1 if grep { index($_, \"$folder/\") >= 0 } split /\\0/, <$line> // ''; } return 0; }"
    " kill 'KILL', $program if !$keeps_running && runs($program);"
    " sleep 1 while runs($program) || folder_named();"
    " system('rm', '-rf', '--', $folder);";

std::wstring wide(const std::string& utf8)
{
    BStr text = from_utf8(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string unix_name(const std::filesystem::path& path)
{
    using Convert = char*(CDECL*)(LPCWSTR);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(path.wstring().c_str()) : nullptr;
    if (!name)
        throw server_unavailable("Cannot find the host's name of " + path.string());
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::filesystem::path make_folder(const std::string& prefix)
{
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    if (error)
        throw server_unavailable("Cannot find the temporary folder for the browser's profile");
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto folder = base / (prefix + std::to_string(entropy()));
        if (std::filesystem::create_directory(folder, error))
            return folder;
    }
    throw server_unavailable("Cannot create a folder for the browser's profile in " + base.string());
}

void close_process_handles(const PROCESS_INFORMATION& process)
{
    // A host program gets no process handle under Wine, and then the thread handle is left unset:
    // closing it would close whatever handle of this process bears that value.
    if (!process.hProcess)
        return;
    CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
}

// Runs a program of the host without waiting for it: a host program gets no process handle.
void run_host(std::wstring command)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &process))
        close_process_handles(process);
}

}  // namespace

bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::string shell_quoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string shell_runs(const std::string& pid)
{
    return "[ \"$(cut -d' ' -f3 /proc/" + pid + "/stat 2>/dev/null || echo Z)\" != Z ]";
}

std::string shell_wait_for_exit(const std::string& pid)
{
    return "while " + shell_runs(pid) + "; do sleep 1; done";
}

WineHostProgram::WineHostProgram(const std::string& prefix) : m_folder(make_folder(prefix))
{
    try {
        m_host_folder = unix_name(m_folder);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        throw;
    }
}

WineHostProgram::~WineHostProgram()
{
    finish(0ms);
}

void WineHostProgram::start(const std::string& script, HANDLE standard)
{
    const std::string whole = "echo $$ > " + shell_quoted(m_host_folder + "/pid") + "; " + script;
    std::wstring command = L"/bin/sh -c " + command_line_quoted(wide(whole));
    auto watch = loopback_socket_pair();
    make_inheritable(watch.theirs);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = watch.theirs.handle();
    startup.hStdOutput = standard;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        throw server_unavailable("Cannot start /bin/sh for the browser (error " + std::to_string(GetLastError()) + ")");
    close_process_handles(process);
    m_watch = std::move(watch.ours);
}

std::string WineHostProgram::shell_watchdog(bool keeps_running) const
{
    // A command run in the background gets /dev/null for its input unless it redirects it itself.
    return "{ perl -e " + shell_quoted(kWatchdog) + " $$ " + shell_quoted(m_host_folder) +
           (keeps_running ? " 1" : " 0") + " <&5 5<&- >/dev/null 2>&1 & } 5<&0; ";
}

bool WineHostProgram::wait_for_pid(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        std::ifstream in(m_folder / "pid");
        int pid = 0;
        if (in >> pid && pid > 0) {
            m_pid = pid;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool WineHostProgram::alive() const
{
    if (m_pid <= 0)
        return false;
    std::ifstream stat("Z:\\proc\\" + std::to_string(m_pid) + "\\stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // A zombie has exited; its state follows the command name in parentheses.
    const auto name_end = line.rfind(')');
    return name_end == std::string::npos || name_end + 2 >= line.size() || line[name_end + 2] != 'Z';
}

std::string WineHostProgram::tail_of(const std::string& file_name) const
{
    std::ifstream in(m_folder / file_name);
    std::ostringstream text;
    text << in.rdbuf();
    return last_lines(text.str(), kTailLines);
}

void WineHostProgram::finish(std::chrono::milliseconds exit_timeout) noexcept
{
    if (m_finished)
        return;
    m_finished = true;
    const auto deadline = std::chrono::steady_clock::now() + exit_timeout;
    while (alive() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
    if (alive()) {
        run_host(L"/bin/kill -KILL " + std::to_wstring(m_pid));
        const auto killed = std::chrono::steady_clock::now() + kKillTimeout;
        while (alive() && std::chrono::steady_clock::now() < killed)
            std::this_thread::sleep_for(kPollInterval);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
    // What the Windows side cannot delete (a browser's profile lock is a symbolic link that leads
    // nowhere) the host's rm can.
    if (std::filesystem::exists(m_folder, ignored)) {
        run_host(L"/bin/rm -rf -- " + command_line_quoted(wide(m_host_folder)));
        const auto removed = std::chrono::steady_clock::now() + kKillTimeout;
        while (std::filesystem::exists(m_folder, ignored) && std::chrono::steady_clock::now() < removed)
            std::this_thread::sleep_for(kPollInterval);
    }
    // The watchdog removes what the program's other processes write after this, or what the
    // host's rm could not remove from a process that is ending.
    m_watch.reset();
}

void WineHostProgram::hand_to_keeper(HANDLE held, std::chrono::milliseconds exit_timeout) noexcept
{
    if (m_finished)
        return;
    const std::string script = "exec >/dev/null 2>&1; " + shell_wait_for_exit(std::to_string(m_pid));
    std::wstring command = L"/bin/sh -c " + command_line_quoted(wide(script));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    // The keeper gets a copy of its own; `held` stays the caller's to close. Its output goes
    // nowhere: a host program started without standard output of its own gets this process's,
    // and under Wine 8 this process's output was lost from then on.
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        copy = nullptr;
    startup.hStdInput = copy;
    PROCESS_INFORMATION process{};
    const bool started =
        m_pid > 0 && copy &&
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (copy)
        CloseHandle(copy);
    if (!started) {
        finish(exit_timeout);
        return;
    }
    close_process_handles(process);
    let_go();
}

void WineHostProgram::let_go() noexcept
{
    m_finished = true;
    m_watch.reset();
}

}  // namespace varne
