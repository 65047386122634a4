#include "platform/chromium/windows/wine_browser_host.h"

#include <vector>

#include "frame/automation_error.h"
#include "platform/chromium/browser_switches.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/loopback_socket_pair.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/socket_transport.h"
#include "platform/transport/wine_host_program.h"

namespace varne::cdp {

namespace {

// Perl clears the O_NONBLOCK that Wine puts on the socket (the browser takes EAGAIN for a closed
// pipe) and execs the browser, keeping descriptor 3 across the exec. The browser quits when its
// socket closes with this process, and its watchdog removes the profile then; a window that nobody
// sees is ended by the watchdog should it stay. A browser that shows its window is handed to a
// keeper when let go of, which holds the socket.
std::string launch_script(const WineHostProgram& program, const std::string& executable, bool shows_window)
{
    const std::string& folder = program.host_folder();
    std::string script =
        program.shell_watchdog(shows_window) +
        "sandbox=; [ \"$(id -u)\" = 0 ] && sandbox=--no-sandbox; exec perl -MFcntl -e " +
        shell_quoted("$^F=255; open(my $p,q(+<&=),3); fcntl($p,F_SETFL,O_RDWR); exec {$ARGV[0]} @ARGV") + " " +
        shell_quoted(executable) + " $sandbox";
    std::vector<std::string> flags(kBrowserSwitches.begin(), kBrowserSwitches.end());
    flags.push_back("--user-data-dir=" + folder + "/profile");
    flags.emplace_back(shows_window ? "--ozone-platform=x11" : kHeadlessSwitch);
    for (const auto& flag : flags)
        script += " " + shell_quoted(flag);
    return script + " 3<&1 4>&1 </dev/null >" + shell_quoted(folder + "/chromium.log") + " 2>&1";
}

}  // namespace

std::unique_ptr<WineBrowserHost> WineBrowserHost::launch(const EnvironmentLookup& environment, bool headless,
                                                         std::chrono::milliseconds start_timeout)
{
    const std::string executable = variable_or(environment, "VARNE_CHROMIUM", kDefaultExecutable);
    const bool shows_window = !headless && variable_set(environment, "DISPLAY");
    const auto deadline = std::chrono::steady_clock::now() + start_timeout;
    auto program = std::make_unique<WineHostProgram>("varne-chromium-");
    auto [ours, theirs] = loopback_socket_pair();
    auto transport = std::make_unique<SocketTransport>(ours.release());
    make_inheritable(theirs);
    program->start(launch_script(*program, executable, shows_window), theirs.handle());
    // Only the browser holds its end now: when it exits, our end sees the connection close.
    theirs.reset();
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
