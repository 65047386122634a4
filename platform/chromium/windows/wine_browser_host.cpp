#include "platform/chromium/windows/wine_browser_host.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "frame/automation_error.h"
#include "frame/text.h"
#include "platform/chromium/browser_switches.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/socket_transport.h"

namespace varne {

namespace {

using namespace std::chrono_literals;

constexpr auto kExitTimeout = 5000ms;
constexpr auto kPollInterval = 20ms;

std::string winsock_error(std::string_view what)
{
    return std::string(what) + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

class Socket {
public:
    explicit Socket(SOCKET socket = INVALID_SOCKET) : m_socket(socket) {}
    ~Socket()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }
    SOCKET release() { return std::exchange(m_socket, INVALID_SOCKET); }

private:
    SOCKET m_socket;
};

void start_winsock()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw server_unavailable("Cannot start Winsock for the browser's connection");
}

void set_no_delay(SOCKET socket)
{
    // Without it every small message waits for the peer's delayed acknowledgement (about 50 ms).
    BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Two connected loopback sockets: ours, and the browser's, which its child may inherit. The
// accepted peer must be our own connecting socket, not another program that raced to connect.
std::pair<SOCKET, SOCKET> socket_pair()
{
    // Not overlapped: the accepted socket inherits this, and only a plain one reaches a host program.
    Socket listener(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
    if (listener.get() == INVALID_SOCKET)
        throw server_unavailable(winsock_error("Cannot create a socket for the browser"));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw server_unavailable(winsock_error("Cannot listen on 127.0.0.1 for the browser"));
    Socket ours(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (ours.get() == INVALID_SOCKET ||
        ::connect(ours.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw server_unavailable(winsock_error("Cannot connect to 127.0.0.1 for the browser"));
    sockaddr_in own{};
    int own_length = sizeof own;
    ::getsockname(ours.get(), reinterpret_cast<sockaddr*>(&own), &own_length);
    sockaddr_in peer{};
    int peer_length = sizeof peer;
    Socket theirs(::accept(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peer_length));
    if (theirs.get() == INVALID_SOCKET)
        throw server_unavailable(winsock_error("Cannot accept the browser's connection"));
    if (peer.sin_port != own.sin_port || peer.sin_addr.s_addr != own.sin_addr.s_addr)
        throw server_unavailable("Another program connected to the browser's socket first");
    set_no_delay(ours.get());
    set_no_delay(theirs.get());
    return {ours.release(), theirs.release()};
}

std::wstring wide(const std::string& utf8)
{
    BStr text = from_utf8(utf8);
    return std::wstring(text.begin(), text.end());
}

// The host's name of a Windows path, for the browser's command line.
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

std::filesystem::path make_folder()
{
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    if (error)
        throw server_unavailable("Cannot find the temporary folder for the browser's profile");
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto folder = base / ("varne-chromium-" + std::to_string(entropy()));
        if (std::filesystem::create_directory(folder, error))
            return folder;
    }
    throw server_unavailable("Cannot create a folder for the browser's profile in " + base.string());
}

// One word for the shell, in single quotes.
std::string shell_quoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string executable_path()
{
    const char* chosen = std::getenv("VARNE_CHROMIUM");
    return chosen != nullptr && *chosen != '\0' ? chosen : WineBrowserHost::kDefaultExecutable;
}

// The shell writes its pid, then perl clears the O_NONBLOCK that Wine puts on the socket (the
// browser takes EAGAIN for a closed pipe) and execs the browser, keeping descriptor 3 across the exec.
std::string launch_script(const std::string& folder, bool headless)
{
    const char* display = std::getenv("DISPLAY");
    std::string script =
        "echo $$ > " + shell_quoted(folder + "/pid") +
        "; sandbox=; [ \"$(id -u)\" = 0 ] && sandbox=--no-sandbox; exec perl -MFcntl -e " +
        shell_quoted("$^F=255; open(my $p,q(+<&=),3); fcntl($p,F_SETFL,O_RDWR); exec {$ARGV[0]} @ARGV") + " " +
        shell_quoted(executable_path()) + " $sandbox";
    std::vector<std::string> flags(kBrowserSwitches.begin(), kBrowserSwitches.end());
    flags.push_back("--user-data-dir=" + folder + "/profile");
    flags.emplace_back(!headless && display != nullptr && *display != '\0' ? "--ozone-platform=x11" : kHeadlessSwitch);
    for (const auto& flag : flags)
        script += " " + shell_quoted(flag);
    return script + " 3<&0 4>&1 </dev/null >" + shell_quoted(folder + "/chromium.log") + " 2>&1";
}

void start_shell(const std::string& script, SOCKET browser_end)
{
    if (!SetHandleInformation(reinterpret_cast<HANDLE>(browser_end), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        throw server_unavailable("Cannot hand the browser its socket (error " + std::to_string(GetLastError()) + ")");
    std::wstring command = L"/bin/sh -c " + command_line_quoted(wide(script));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = reinterpret_cast<HANDLE>(browser_end);
    startup.hStdOutput = reinterpret_cast<HANDLE>(browser_end);
    startup.hStdError = reinterpret_cast<HANDLE>(browser_end);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        throw server_unavailable("Cannot start /bin/sh for the browser (error " + std::to_string(GetLastError()) + ")");
    // A host program gets no process handle under Wine; should one come, it is not needed.
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
}

int read_pid(const std::filesystem::path& file, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        std::ifstream in(file);
        int pid = 0;
        if (in >> pid && pid > 0)
            return pid;
        if (std::chrono::steady_clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void run_host_kill(int pid)
{
    std::wstring command = L"/bin/kill -KILL " + std::to_wstring(pid);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &process)) {
        if (process.hProcess)
            CloseHandle(process.hProcess);
        if (process.hThread)
            CloseHandle(process.hThread);
    }
}

std::string log_tail(const std::filesystem::path& log)
{
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        lines.push_back(line);
        if (lines.size() > 5)
            lines.erase(lines.begin());
    }
    std::string tail;
    for (const auto& line : lines)
        tail += (tail.empty() ? "" : " | ") + line;
    return tail;
}

}  // namespace

bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::unique_ptr<WineBrowserHost> WineBrowserHost::launch(bool headless, std::chrono::milliseconds start_timeout)
{
    start_winsock();
    const auto deadline = std::chrono::steady_clock::now() + start_timeout;
    const std::filesystem::path folder = make_folder();
    std::unique_ptr<WineBrowserHost> host;
    try {
        auto [ours, theirs] = socket_pair();
        Socket browser_end(theirs);
        auto session = std::make_unique<ProtocolSession>(std::make_unique<SocketTransport>(ours));
        start_shell(launch_script(unix_name(folder), headless), browser_end.get());
        host.reset(new WineBrowserHost(folder, std::move(session)));
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        throw;
    }
    host->m_pid = read_pid(folder / "pid", deadline);
    try {
        if (host->m_pid == 0)
            throw server_unavailable("the shell that starts it wrote no pid within " +
                                     std::to_string(start_timeout.count()) + " ms");
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        host->session().send("Browser.getVersion", nlohmann::json::object(), {},
                             std::max(left, std::chrono::milliseconds(1)));
        return host;
    } catch (const AutomationError& error) {
        std::string description =
            "Chromium (" + executable_path() + ") under Wine did not start: " + error.description();
        const std::string tail = log_tail(folder / "chromium.log");
        if (!tail.empty())
            description += "; its log ends: " + tail;
        host->finish();
        throw server_unavailable(std::move(description));
    }
}

WineBrowserHost::WineBrowserHost(std::filesystem::path folder, std::unique_ptr<ProtocolSession> session)
    : m_folder(std::move(folder)), m_session(std::move(session))
{
}

WineBrowserHost::~WineBrowserHost()
{
    close();
}

bool WineBrowserHost::process_alive() const
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

void WineBrowserHost::close()
{
    if (m_closed)
        return;
    ask_to_close(*m_session);
    finish();
}

void WineBrowserHost::leave_open()
{
    if (m_closed)
        return;
    m_closed = true;
    m_session->close();
}

void WineBrowserHost::finish()
{
    m_closed = true;
    m_session->close();
    const auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
    while (process_alive() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
    if (process_alive()) {
        run_host_kill(m_pid);
        const auto killed = std::chrono::steady_clock::now() + kExitTimeout;
        while (process_alive() && std::chrono::steady_clock::now() < killed)
            std::this_thread::sleep_for(kPollInterval);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

}  // namespace varne
