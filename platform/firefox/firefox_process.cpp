#include "platform/firefox/firefox_process.h"

#include "frame/automation_error.h"
#include "platform/transport/websocket_transport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varne {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kConnectTimeout = 5000ms;
constexpr auto kCloseAnswerTimeout = 2000ms;
constexpr auto kExitTimeout = 5000ms;
constexpr auto kGroupExitTimeout = 2000ms;
constexpr auto kPollInterval = 5ms;
constexpr int kOutputTailLines = 5;
constexpr const char* kOutputName = "firefox.log";
constexpr const char* kProfileName = "profile";

AutomationError start_error(std::string description)
{
    return {error_number::kServerUnavailable, std::move(description)};
}

std::string errno_text(int error)
{
    return std::strerror(error);
}

std::string executable_path()
{
    const char* chosen = std::getenv("VARNE_FIREFOX");
    return chosen != nullptr && *chosen != '\0' ? chosen : FirefoxProcess::kDefaultExecutable;
}

bool display_available()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

// A fresh folder in memory when /dev/shm is usable, as a profile on a busy disk slows the start.
std::filesystem::path make_folder()
{
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK | X_OK) != 0) {
        const char* tmpdir = std::getenv("TMPDIR");
        base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    }
    std::string made = base + "/varne-firefox-XXXXXX";
    if (::mkdtemp(made.data()) == nullptr)
        throw start_error("Cannot create a folder for Firefox's profile in " + base + ": " + errno_text(errno));
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
        throw start_error("Cannot write Firefox's profile in " + profile.string());
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

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Spawns `args` in a process group of its own (or in `group`), with stdin from `input` (or
// /dev/null) and stdout and stderr into `output` (or /dev/null), and no other descriptor of ours.
pid_t spawn(std::vector<std::string> args, std::vector<std::string> environment, const std::filesystem::path& output,
            int input, pid_t group = 0)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.empty() ? "/dev/null" : output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, group);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const auto argv = pointers(args);
    const auto envp = pointers(environment);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, args.front().c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw start_error("Cannot start Firefox (" + args.front() + "): " + errno_text(error));
    return pid;
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
    std::vector<std::string> environment{"PATH=/usr/bin:/bin"};
    try {
        return spawn(std::move(args), std::move(environment), {}, input);
    } catch (const AutomationError&) {
        return 0;  // without one, Firefox still ends with close()
    }
}

// Whether a process other than a zombie is still in the group; read from /proc, because zombies
// that nobody reaps would keep killpg(pgid, 0) succeeding.
bool group_has_live_members(pid_t pgid)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        const auto name_end = line.rfind(')');
        if (name_end == std::string::npos)
            continue;
        std::istringstream fields(line.substr(name_end + 1));
        char state = 0;
        pid_t parent = 0;
        pid_t group = 0;
        fields >> state >> parent >> group;
        if (group == pgid && state != 'Z' && state != 'X')
            return true;
    }
    return false;
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

std::unique_ptr<FirefoxProcess> FirefoxProcess::launch(const FirefoxLaunchOptions& options)
{
    const std::string executable = executable_path();
    const std::filesystem::path folder = make_folder();
    const bool shows_window = !options.headless && display_available();
    int watchdog_line[2] = {-1, -1};
    pid_t pid = 0;
    try {
        write_profile(folder / kProfileName);
        if (::pipe2(watchdog_line, O_CLOEXEC) != 0)
            throw start_error("Cannot create a pipe for Firefox's watchdog: " + errno_text(errno));
        pid = spawn(browser_arguments(executable, folder / kProfileName, shows_window), browser_environment(),
                    folder / kOutputName, -1);
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
    process->m_watchdog = spawn_watchdog(pid, folder, shows_window, watchdog_line[0]);
    ::close(watchdog_line[0]);
    process->m_watchdog_fd = watchdog_line[1];
    process->connect(options);
    return process;
}

FirefoxProcess::FirefoxProcess(std::string executable, std::filesystem::path folder, pid_t pid, bool shows_window)
    : m_executable(std::move(executable)), m_folder(std::move(folder)), m_pid(pid), m_shows_window(shows_window)
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
        if (wait_for_exit(0ms))
            fail_start(exit_description());
        if (std::chrono::steady_clock::now() >= listen_deadline)
            fail_start("printed no WebDriver BiDi address within " + std::to_string(options.listen_timeout.count()) +
                       " ms of its start");
        std::this_thread::sleep_for(kPollInterval);
    }

    WebAddress server{"ws", {}, {}, address->first, address->second, "/session"};
    try {
        m_session = std::make_unique<BidiSession>(WebSocketTransport::connect(
            server, {}, HostHeader::kAsGiven, MessageTransport::Clock::now() + kConnectTimeout));
    } catch (const AutomationError& error) {
        fail_start("could not be reached at " + server.text() + ": " + error.description());
    }

    const Json capabilities{{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}};
    try {
        m_capabilities = m_session->send("session.new", {{"capabilities", capabilities}}, options.session_timeout);
    } catch (const BidiError& error) {
        if (error.kind() == BidiError::Kind::kTimedOut)
            fail_start("did not answer session.new within " + std::to_string(options.session_timeout.count()) +
                       " ms (it answers once its start-up tasks have run)");
        if (error.kind() == BidiError::Kind::kDisconnected && wait_for_exit(kExitTimeout))
            fail_start(exit_description());
        fail_start("refused a new session: " + error.description());
    }
}

void FirefoxProcess::fail_start(std::string description)
{
    description = "Firefox (" + m_executable + ") " + description;
    const std::string printed = output();
    if (!printed.empty())
        description += "; it printed: " + printed;
    finish(0ms);
    throw start_error(std::move(description));
}

void FirefoxProcess::close()
{
    if (m_closed)
        return;
    if (m_session && !m_session->closed()) {
        try {
            m_session->send("browser.close", Json::object(), kCloseAnswerTimeout);
        } catch (const AutomationError&) {
            // Firefox is gone or stuck; finish() ends it either way.
        }
    }
    finish(kExitTimeout);
}

void FirefoxProcess::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    if (m_session)
        m_session->close();
    wait_for_exit(exit_timeout);
    end_process_group();
    wait_for_exit(kExitTimeout);
    release_watchdog();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void FirefoxProcess::release_watchdog()
{
    if (m_watchdog_fd >= 0) {
        [[maybe_unused]] const auto written = ::write(m_watchdog_fd, "\n", 1);
        ::close(m_watchdog_fd);
        m_watchdog_fd = -1;
    }
    if (m_watchdog > 0) {
        while (::waitpid(m_watchdog, nullptr, 0) < 0 && errno == EINTR) {}
        m_watchdog = 0;
    }
}

bool FirefoxProcess::wait_for_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_exited) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exited = true;
            m_exit_status = status;
        } else if (done < 0 && errno != EINTR) {
            // Reaped elsewhere (a host that ignores SIGCHLD): gone, with no status to report.
            m_exited = true;
            m_exit_status = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        } else {
            std::this_thread::sleep_for(kPollInterval);
        }
    }
    return true;
}

// Content processes outlive the main one briefly; once it has exited they have nothing to save.
void FirefoxProcess::end_process_group()
{
    if (::killpg(m_pid, SIGKILL) != 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + kGroupExitTimeout;
    while (group_has_live_members(m_pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
}

std::string FirefoxProcess::exit_description() const
{
    if (m_exit_status == -1)
        return "exited at start";
    if (WIFSIGNALED(m_exit_status))
        return "was killed at start by signal " + std::to_string(WTERMSIG(m_exit_status)) + " (" +
               strsignal(WTERMSIG(m_exit_status)) + ")";
    return "exited at start with status " + std::to_string(WEXITSTATUS(m_exit_status));
}

std::string FirefoxProcess::output() const
{
    std::istringstream text(read_file(m_folder / kOutputName));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        lines.push_back(std::move(line));
        if (lines.size() > kOutputTailLines)
            lines.erase(lines.begin());
    }
    std::string tail;
    for (const auto& line : lines)
        tail += (tail.empty() ? "" : " | ") + line;
    return tail;
}

}  // namespace varne
