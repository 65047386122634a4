#include "platform/firefox/firefox_process.h"

#include "frame/automation_error.h"
#include "platform/firefox/firefox_start.h"
#include "platform/posix/child_process.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/output_tail.h"
#include "platform/transport/server_unavailable.h"

#include <cerrno>
#include <csignal>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varne::bidi {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kPollInterval = 5ms;
constexpr int kOutputTailLines = 5;
constexpr const char* kOutputName = "firefox.log";
constexpr const char* kProfileName = "profile";

std::filesystem::path make_folder(const EnvironmentLookup& environment)
{
    const std::string base = posix::profile_base_folder(environment);
    std::string made = base + "/varne-firefox-XXXXXX";
    if (::mkdtemp(made.data()) == nullptr)
        throw server_unavailable("Cannot create a folder for Firefox's profile in " + base + ": " +
                                 posix::errno_text(errno));
    return made;
}

void write_profile(const std::filesystem::path& profile)
{
    std::error_code error;
    std::filesystem::create_directory(profile, error);
    std::ofstream user_js(profile / "user.js");
    user_js << firefox_user_js();
    user_js.close();
    if (error || !user_js)
        throw server_unavailable("Cannot write Firefox's profile in " + profile.string());
}

std::vector<std::string> browser_arguments(const std::string& executable, const std::filesystem::path& profile,
                                           bool shows_window)
{
    std::vector<std::string> args{executable};
    if (!shows_window)
        args.emplace_back("--headless");
    args.insert(args.end(), {"--remote-debugging-port=0", "--no-remote", "--profile", profile.string(), "about:blank"});
    return args;
}

// This program's environment, with what stops Firefox's remote-settings lookups: release builds
// take the profile's settings server only when this variable is set.
std::vector<std::string> browser_environment()
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with("MOZ_REMOTE_SETTINGS_DEVTOOLS="))
            environment.emplace_back(*entry);
    }
    environment.emplace_back("MOZ_REMOTE_SETTINGS_DEVTOOLS=1");
    return environment;
}

// Firefox outlives a client that dies, and keeps its only session taken. A watchdog in a group of
// its own reads a line that only this process writes: a line means the library ended Firefox
// itself; the end of input means this process is gone, and then a window nobody can see is
// killed, while one a person sees stays open until closed. The profile goes once Firefox has.
pid_t spawn_watchdog(pid_t browser, const std::filesystem::path& folder, bool keep_window, int input)
{
    const std::string script = "if read _; then exit 0; fi;"
                               " [ \"$3\" = keep ] || kill -s KILL -- -\"$1\" 2>/dev/null;"
                               " while [ \"$(cut -d' ' -f3 /proc/$1/stat 2>/dev/null || echo Z)\" != Z ]; do"
                               " sleep 1; done; rm -rf -- \"$2\"";
    std::vector<std::string> args{"/bin/sh",
                                  "-c",
                                  script,
                                  "varne-firefox-watchdog",
                                  std::to_string(browser),
                                  folder.string(),
                                  keep_window ? "keep" : "kill"};
    try {
        return posix::spawn_child(
            {.args = std::move(args), .environment = std::vector<std::string>{"PATH=/usr/bin:/bin"}, .input = input},
            "Cannot start Firefox's watchdog");
    } catch (const AutomationError&) {
        return 0;  // without one, Firefox still ends with close()
    }
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

std::unique_ptr<FirefoxProcess> FirefoxProcess::launch(const EnvironmentLookup& environment,
                                                       const FirefoxLaunchOptions& options)
{
    const std::string executable = variable_or(environment, "VARNE_FIREFOX", kDefaultExecutable);
    const std::filesystem::path folder = make_folder(environment);
    const bool shows_window = !options.headless && variable_set(environment, "DISPLAY");
    int watchdog_line[2] = {-1, -1};
    pid_t pid = 0;
    try {
        write_profile(folder / kProfileName);
        if (::pipe2(watchdog_line, O_CLOEXEC) != 0)
            throw server_unavailable("Cannot create a pipe for Firefox's watchdog: " + posix::errno_text(errno));
        pid = posix::spawn_child({.args = browser_arguments(executable, folder / kProfileName, shows_window),
                                  .environment = browser_environment(),
                                  .output = folder / kOutputName},
                                 "Cannot start Firefox (" + executable + ")");
    } catch (const AutomationError&) {
        for (const int fd : watchdog_line) {
            if (fd >= 0)
                ::close(fd);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        throw;
    }

    std::unique_ptr<FirefoxProcess> process(new FirefoxProcess(executable, folder, pid, shows_window));
    process->m_watchdog = posix::ChildProcess(spawn_watchdog(pid, folder, shows_window, watchdog_line[0]));
    ::close(watchdog_line[0]);
    process->m_watchdog_fd = watchdog_line[1];
    process->connect(options);
    return process;
}

FirefoxProcess::FirefoxProcess(std::string executable, std::filesystem::path folder, pid_t pid, bool shows_window)
    : m_executable(std::move(executable)), m_folder(std::move(folder)), m_process(pid), m_shows_window(shows_window)
{
}

FirefoxProcess::~FirefoxProcess()
{
    close();
}

void FirefoxProcess::connect(const FirefoxLaunchOptions& options)
{
    const auto listen_deadline = std::chrono::steady_clock::now() + options.listen_timeout;
    std::optional<std::pair<std::string, uint16_t>> address;
    while (!(address = bidi_listen_address(read_file(m_folder / kOutputName)))) {
        if (m_process.wait_for_exit(0ms))
            throw start_failure(m_process.exit_description());
        if (std::chrono::steady_clock::now() >= listen_deadline)
            throw start_failure("printed no WebDriver BiDi address within " +
                                std::to_string(options.listen_timeout.count()) + " ms of its start");
        std::this_thread::sleep_for(kPollInterval);
    }

    const WebAddress server{"ws", {}, {}, address->first, address->second, "/session"};
    m_capabilities = open_started_session(
        m_session, server, options.session_timeout, [this](const std::string& what) { return start_failure(what); },
        [this]() -> std::optional<std::string> {
            if (m_process.wait_for_exit(session_bounds::kExit))
                return m_process.exit_description();
            return std::nullopt;
        });
}

AutomationError FirefoxProcess::start_failure(std::string description)
{
    description = "Firefox (" + m_executable + ") " + description;
    const std::string printed = last_lines(read_file(m_folder / kOutputName), kOutputTailLines);
    if (!printed.empty())
        description += "; it printed: " + printed;
    finish(0ms);
    return server_unavailable(std::move(description));
}

void FirefoxProcess::close() noexcept
{
    if (m_closed)
        return;
    if (m_session && !m_session->closed()) {
        try {
            m_session->send("browser.close", Json::object(), session_bounds::kCloseAnswer);
        } catch (const AutomationError&) {
            // Firefox is gone or stuck; finish() ends it either way.
        }
    }
    finish(session_bounds::kExit);
}

void FirefoxProcess::leave_open() noexcept
{
    if (m_closed)
        return;
    if (!m_shows_window || m_watchdog_fd < 0) {
        close();
        return;
    }
    // The watchdog reads the end of its input as this process's end, and keeps the window then.
    m_closed = true;
    if (m_session)
        m_session->close();
    ::close(std::exchange(m_watchdog_fd, -1));
    m_process.let_go();
    m_watchdog.let_go();
}

void FirefoxProcess::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    if (m_session)
        m_session->close();
    m_process.wait_for_exit(exit_timeout);
    // Content processes outlive the main one briefly; once it has exited they have nothing to save.
    m_process.end_group(session_bounds::kGroupExit);
    m_process.wait_for_exit(session_bounds::kExit);
    release_watchdog();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void FirefoxProcess::release_watchdog()
{
    if (m_watchdog_fd >= 0) {
        [[maybe_unused]] const auto written = ::write(m_watchdog_fd, "\n", 1);
        ::close(std::exchange(m_watchdog_fd, -1));
    }
    m_watchdog.wait_for_exit(session_bounds::kExit);
}

std::unique_ptr<StartedFirefox> start_firefox(const EnvironmentLookup& environment, bool headless)
{
    return FirefoxProcess::launch(environment, {.headless = headless});
}

// Every Firefox started here is shared: its watchdog ends it, and removes its profile, when this
// process ends. Headed ones are shared per display.
std::string shared_firefox_key(const EnvironmentLookup& environment, bool headless)
{
    const bool headed = !headless && can_show_firefox_window(environment);
    return (headed ? "headed " + std::string(environment("DISPLAY")) + " " : "headless ") +
           variable_or(environment, "VARNE_FIREFOX", FirefoxProcess::kDefaultExecutable);
}

bool can_show_firefox_window(const EnvironmentLookup& environment)
{
    return variable_set(environment, "DISPLAY");
}

}  // namespace varne::bidi
