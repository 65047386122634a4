#include "platform/firefox/windows/wine_firefox.h"

#include "frame/automation_error.h"
#include "platform/firefox/firefox_profile.h"
#include "platform/firefox/firefox_start.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/server_unavailable.h"

#include <cstdlib>
#include <fstream>
#include <thread>

namespace varne::bidi {

namespace {

using namespace std::chrono_literals;

constexpr auto kPidTimeout = 10000ms;
constexpr auto kPollInterval = 20ms;
constexpr const char* kOutputName = "firefox.log";

// Firefox outlives a client that dies, unlike Chromium, whose socket ends with its client: its
// watchdog kills one that nobody sees, and removes the profile once Firefox has gone; a window a
// person sees stays until closed. The variable stops Firefox's remote-settings lookups: release
// builds take the profile's settings server only when it is set.
std::string launch_script(const WineHostProgram& program, const std::string& executable, bool shows_window)
{
    const std::string& folder = program.host_folder();
    std::string script =
        program.shell_watchdog(shows_window) + "MOZ_REMOTE_SETTINGS_DEVTOOLS=1 exec " + shell_quoted(executable);
    if (!shows_window)
        script += " --headless";
    script += " --remote-debugging-port=0 --no-remote --profile " + shell_quoted(folder + "/profile") + " about:blank";
    return script + " </dev/null >" + shell_quoted(folder + "/" + kOutputName) + " 2>&1";
}

}  // namespace

std::unique_ptr<WineFirefox> WineFirefox::launch(const EnvironmentLookup& environment, bool headless,
                                                 std::chrono::milliseconds listen_timeout,
                                                 std::chrono::milliseconds session_timeout)
{
    const std::string executable = variable_or(environment, "VARNE_FIREFOX", kDefaultExecutable);
    const bool shows_window = !headless && variable_set(environment, "DISPLAY");
    auto program = std::make_unique<WineHostProgram>("varne-firefox-");
    std::error_code error;
    std::filesystem::create_directory(program->folder() / "profile", error);
    std::ofstream user_js(program->folder() / "profile" / "user.js", std::ios::binary);
    user_js << firefox_user_js();
    user_js.close();
    if (error || !user_js)
        throw server_unavailable("Cannot write Firefox's profile in " + program->folder().string());
    program->start(launch_script(*program, executable, shows_window));
    std::unique_ptr<WineFirefox> firefox(new WineFirefox(std::move(program), executable, shows_window));
    firefox->connect(listen_timeout, session_timeout);
    return firefox;
}

WineFirefox::WineFirefox(std::unique_ptr<WineHostProgram> program, std::string executable, bool shows_window)
    : m_program(std::move(program)), m_executable(std::move(executable)), m_shows_window(shows_window)
{
}

WineFirefox::~WineFirefox()
{
    close();
}

void WineFirefox::connect(std::chrono::milliseconds listen_timeout, std::chrono::milliseconds session_timeout)
{
    const auto failure = [this](const std::string& what) {
        std::string description = "Firefox (" + m_executable + ") under Wine " + what;
        const std::string tail = m_program->tail_of(kOutputName);
        if (!tail.empty())
            description += "; it printed: " + tail;
        m_closed = true;
        m_program->finish(0ms);
        return server_unavailable(std::move(description));
    };
    if (!m_program->wait_for_pid(std::chrono::steady_clock::now() + kPidTimeout))
        throw failure("did not start: the shell that starts it wrote no pid within " +
                      std::to_string(kPidTimeout.count()) + " ms");
    const auto listen_deadline = std::chrono::steady_clock::now() + listen_timeout;
    std::optional<std::pair<std::string, uint16_t>> address;
    while (!(address = bidi_listen_address(file_text(m_program->folder() / kOutputName)))) {
        if (!m_program->alive())
            throw failure("exited at start");
        if (std::chrono::steady_clock::now() >= listen_deadline)
            throw failure("printed no WebDriver BiDi address within " + std::to_string(listen_timeout.count()) +
                          " ms of its start");
        std::this_thread::sleep_for(kPollInterval);
    }
    const WebAddress server{"ws", {}, {}, address->first, address->second, "/session"};
    open_started_session(m_session, server, session_timeout, failure, [] { return std::optional<std::string>(); });
}

void WineFirefox::close() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    ask_to_close(m_session.get());
    m_program->finish(session_bounds::kExit);
}

void WineFirefox::leave_open() noexcept
{
    if (m_closed)
        return;
    if (!m_shows_window) {
        close();
        return;
    }
    m_closed = true;
    if (m_session)
        m_session->close();
    m_program->let_go();
}

}  // namespace varne::bidi
