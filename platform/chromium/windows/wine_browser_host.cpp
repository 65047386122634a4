#include "platform/chromium/windows/wine_browser_host.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <vector>

#include "frame/automation_error.h"
#include "platform/chromium/browser_switches.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/socket_transport.h"
#include "platform/transport/wine_host_program.h"

namespace varne::cdp {

namespace {

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

// Two connected loopback sockets: ours, and the browser's, which its child may inherit (ours too
// is handed to a keeper later, so neither is overlapped: only a plain one reaches a host
// program). The accepted peer must be our own connecting socket, not another program that raced
// to connect.
std::pair<SOCKET, SOCKET> socket_pair()
{
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
    Socket ours(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
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

// A browser that nobody sees may be kept for this process's next Browser, and this process may
// end meanwhile without a word to it: the browser quits when its socket closes with this process,
// and a watchdog of the shell then removes its profile, killing a browser that stays (exec keeps
// the shell's pid for it). While this process runs, the profile is this process's to remove: the
// watchdog only waits, and leaves once the folder has gone. A browser that shows its window is
// handed to a keeper when let go of.
std::string watchdog_script(const std::string& folder, bool shows_window)
{
    const int client = host_pid_of_this_process();
    if (shows_window || client == 0)
        return {};
    const std::string there = "[ -e " + shell_quoted(folder) + " ]";
    return "browser=$$; (while " + shell_runs(std::to_string(client)) + " && " + there + "; do sleep 1; done; " +
           there + " || exit 0; if " + shell_runs("$browser") + "; then kill -KILL $browser; fi; " +
           shell_wait_for_exit("$browser") + "; rm -rf -- " + shell_quoted(folder) + ") </dev/null >/dev/null 2>&1 & ";
}

// Perl clears the O_NONBLOCK that Wine puts on the socket (the browser takes EAGAIN for a closed
// pipe) and execs the browser, keeping descriptor 3 across the exec.
std::string launch_script(const std::string& executable, const std::string& folder, bool shows_window)
{
    std::string script =
        watchdog_script(folder, shows_window) +
        "sandbox=; [ \"$(id -u)\" = 0 ] && sandbox=--no-sandbox; exec perl -MFcntl -e " +
        shell_quoted("$^F=255; open(my $p,q(+<&=),3); fcntl($p,F_SETFL,O_RDWR); exec {$ARGV[0]} @ARGV") + " " +
        shell_quoted(executable) + " $sandbox";
    std::vector<std::string> flags(kBrowserSwitches.begin(), kBrowserSwitches.end());
    flags.push_back("--user-data-dir=" + folder + "/profile");
    flags.emplace_back(shows_window ? "--ozone-platform=x11" : kHeadlessSwitch);
    for (const auto& flag : flags)
        script += " " + shell_quoted(flag);
    return script + " 3<&0 4>&1 </dev/null >" + shell_quoted(folder + "/chromium.log") + " 2>&1";
}

}  // namespace

std::unique_ptr<WineBrowserHost> WineBrowserHost::launch(const EnvironmentLookup& environment, bool headless,
                                                         std::chrono::milliseconds start_timeout)
{
    const std::string executable = variable_or(environment, "VARNE_CHROMIUM", kDefaultExecutable);
    const bool shows_window = !headless && variable_set(environment, "DISPLAY");
    start_winsock();
    const auto deadline = std::chrono::steady_clock::now() + start_timeout;
    auto program = std::make_unique<WineHostProgram>("varne-chromium-");
    auto [ours, theirs] = socket_pair();
    Socket browser_end(theirs);
    auto transport = std::make_unique<SocketTransport>(ours);
    if (!SetHandleInformation(reinterpret_cast<HANDLE>(browser_end.get()), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        throw server_unavailable("Cannot hand the browser its socket (error " + std::to_string(GetLastError()) + ")");
    program->start(launch_script(executable, program->host_folder(), shows_window),
                   reinterpret_cast<HANDLE>(browser_end.get()));
    // Only the browser holds its end now: when it exits, our end sees the connection close.
    ::closesocket(browser_end.release());
    std::unique_ptr<WineBrowserHost> host(new WineBrowserHost(std::move(program), std::move(transport), shows_window));
    try {
        if (!host->m_program->wait_for_pid(deadline))
            throw server_unavailable("the shell that starts it wrote no pid within " +
                                     std::to_string(start_timeout.count()) + " ms");
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        host->session().send("Browser.getVersion", nlohmann::json::object(), {},
                             std::max(left, std::chrono::milliseconds(1)));
        return host;
    } catch (const AutomationError& error) {
        std::string description = "Chromium (" + executable + ") under Wine did not start: " + error.description();
        const std::string tail = host->m_program->tail_of("chromium.log");
        if (!tail.empty())
            description += "; its log ends: " + tail;
        host->finish();
        throw server_unavailable(std::move(description));
    }
}

WineBrowserHost::WineBrowserHost(std::unique_ptr<WineHostProgram> program, std::unique_ptr<SocketTransport> transport,
                                 bool shows_window)
    : m_program(std::move(program)),
      m_transport(transport.get()),
      m_session(std::make_unique<ProtocolSession>(std::move(transport))),
      m_shows_window(shows_window)
{
}

WineBrowserHost::~WineBrowserHost()
{
    close();
}

void WineBrowserHost::close()
{
    if (m_closed)
        return;
    ask_to_close(*m_session);
    finish();
}

// The browser quits when its connection ends, so the keeper holds our end of it from here on: it
// must have its copy before the session lets go of ours.
void WineBrowserHost::leave_open()
{
    if (m_closed)
        return;
    const auto socket = reinterpret_cast<HANDLE>(m_transport->socket());
    if (!m_shows_window || m_session->closed() ||
        !SetHandleInformation(socket, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        close();
        return;
    }
    m_closed = true;
    m_transport->keep_connection();
    m_session->close();
    m_program->hand_to_keeper(socket, session_bounds::kExit);
}

void WineBrowserHost::finish()
{
    m_closed = true;
    m_session->close();
    m_program->finish(session_bounds::kExit);
}

}  // namespace varne::cdp
