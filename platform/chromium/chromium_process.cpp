#include "platform/chromium/chromium_process.h"

#include "frame/automation_error.h"
#include "platform/chromium/browser_switches.h"
#include "platform/transport/pipe_transport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varne {

namespace {

using namespace std::chrono_literals;

constexpr auto kCloseAnswerTimeout = 2000ms;
constexpr auto kExitTimeout = 5000ms;
constexpr auto kExitAfterFailedStart = 2000ms;
constexpr auto kGroupExitTimeout = 2000ms;
constexpr auto kExitPollInterval = 5ms;
// Below this the browser's own descriptors 3 and 4 could collide with ours while they are moved.
constexpr int kFirstParentFd = 10;
constexpr int kLogTailLines = 5;
constexpr const char* kLogName = "chromium.log";
constexpr const char* kProfileName = "profile";

AutomationError start_error(std::string description)
{
    return {error_number::kServerUnavailable, std::move(description)};
}

std::string errno_text(int error)
{
    return std::strerror(error);
}

// Owns a descriptor until it is released to its next owner.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        Fd old(std::exchange(m_fd, other.release()));
        return *this;
    }

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// One pipe whose ends sit at or above kFirstParentFd and close on exec, so that no later child of
// this program inherits them: a leaked write end would keep the browser alive after close().
struct Pipe {
    Fd read_end;
    Fd write_end;
};

Pipe make_pipe()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw start_error("Cannot create a pipe for Chromium: " + errno_text(errno));
    Fd low_read(ends[0]);
    Fd low_write(ends[1]);
    Pipe pipe{Fd(::fcntl(ends[0], F_DUPFD_CLOEXEC, kFirstParentFd)),
              Fd(::fcntl(ends[1], F_DUPFD_CLOEXEC, kFirstParentFd))};
    if (pipe.read_end.get() < 0 || pipe.write_end.get() < 0)
        throw start_error("Cannot create a pipe for Chromium: " + errno_text(errno));
    return pipe;
}

std::string executable_path()
{
    const char* chosen = std::getenv("VARNE_CHROMIUM");
    return chosen != nullptr && *chosen != '\0' ? chosen : ChromiumProcess::kDefaultExecutable;
}

// Profile folders are locked (flock on the folder) by the process that uses them, for as long as
// it runs: the kernel drops the lock when that process ends, however it ends, so a folder that
// can be locked is one that nobody will use again. A folder is made under another name and gets
// its own once locked, so that no one sees it unlocked.
constexpr const char* kFolderPrefix = "varne-profile-";
constexpr const char* kNewFolderPrefix = ".varne-profile-new-";

std::mutex& folder_locks_mutex()
{
    static std::mutex mutex;
    return mutex;
}

// The lock of each folder that this process uses, by path.
std::map<std::string, int>& folder_locks()
{
    static std::map<std::string, int> locks;
    return locks;
}

// Removes the folders left by processes that ended without removing their own.
void remove_abandoned_folders(const std::string& base)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entries(base, error), end; !error && entries != end;
         entries.increment(error)) {
        const std::filesystem::path path = entries->path();
        if (!path.filename().string().starts_with(kFolderPrefix))
            continue;
        Fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.get() < 0 || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0)
            continue;  // in use, or not ours to look into
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

// A fresh folder in memory when /dev/shm is usable: profiles on a disk busy with write-back make
// the start two to three times slower.
std::filesystem::path make_folder()
{
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK | X_OK) != 0) {
        const char* tmpdir = std::getenv("TMPDIR");
        base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    }
    remove_abandoned_folders(base);
    std::string made = base + "/" + kNewFolderPrefix + "XXXXXX";
    if (::mkdtemp(made.data()) == nullptr)
        throw start_error("Cannot create a folder for Chromium's profile in " + base + ": " + errno_text(errno));
    const std::string folder = base + "/" + kFolderPrefix + made.substr(made.size() - 6);
    Fd lock(::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.get() < 0 || ::flock(lock.get(), LOCK_EX) != 0 || ::rename(made.c_str(), folder.c_str()) != 0) {
        const int error = errno;
        ::rmdir(made.c_str());
        throw start_error("Cannot lock the folder for Chromium's profile in " + base + ": " + errno_text(error));
    }
    std::lock_guard guard(folder_locks_mutex());
    folder_locks()[folder] = lock.release();
    return folder;
}

// Removes a folder of this process, then lets its lock go.
void remove_folder(const std::filesystem::path& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::lock_guard guard(folder_locks_mutex());
    auto lock = folder_locks().find(folder.string());
    if (lock != folder_locks().end()) {
        ::close(lock->second);
        folder_locks().erase(lock);
    }
}

bool shows_window(const ChromiumLaunchOptions& options)
{
    const char* display = std::getenv("DISPLAY");
    return !options.headless && display != nullptr && *display != '\0';
}

std::vector<std::string> browser_arguments(const std::string& executable, const std::filesystem::path& folder,
                                           const ChromiumLaunchOptions& options)
{
    std::vector<std::string> args{executable};
    if (::geteuid() == 0)
        args.emplace_back("--no-sandbox");
    if (shows_window(options))
        args.emplace_back("--ozone-platform=x11");
    else
        args.emplace_back(kHeadlessSwitch);
    args.insert(args.end(), kBrowserSwitches.begin(), kBrowserSwitches.end());
    args.push_back("--user-data-dir=" + (folder / kProfileName).string());
    args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
    return args;
}

// Spawns the browser in a process group of its own, with the command pipe on descriptor 3, the
// message pipe on descriptor 4, no other descriptor of this program, and its output in the log.
pid_t spawn(const std::vector<std::string>& args, const std::filesystem::path& log, int command_read, int message_write)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, command_read, 3);
    posix_spawn_file_actions_adddup2(&actions, message_write, 4);
    posix_spawn_file_actions_addclosefrom_np(&actions, 5);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, args.front().c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw start_error("Cannot start Chromium (" + args.front() + "): " + errno_text(error));
    return pid;
}

// A window that a person can see stays open when this process ends, however it ends: a small
// keeper in the browser's group holds the command pipe open (the browser quits when it closes)
// and the profile's lock, and removes the profile once the browser has gone.
pid_t spawn_keeper(pid_t browser, const std::filesystem::path& folder, int command_write)
{
    int lock = -1;
    {
        std::lock_guard guard(folder_locks_mutex());
        auto found = folder_locks().find(folder.string());
        if (found != folder_locks().end())
            lock = found->second;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, command_write, 3);
    if (lock >= 0)
        posix_spawn_file_actions_adddup2(&actions, lock, 4);
    posix_spawn_file_actions_addclosefrom_np(&actions, lock >= 0 ? 5 : 4);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, browser);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

    const std::string pid = std::to_string(browser);
    const std::string script =
        "while [ \"$(cut -d' ' -f3 /proc/$1/stat 2>/dev/null || echo Z)\" != Z ]; do sleep 1; done;"
        " rm -rf -- \"$2\"";
    std::vector<std::string> args{"/bin/sh", "-c", script, "varne-keeper", pid, folder.string()};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t keeper = 0;
    // Without a keeper the window closes with this process, as a headless one does.
    ::posix_spawn(&keeper, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return keeper;
}

// Whether a process other than a zombie is still in the group; read from /proc, because zombies
// that nobody reaps would keep killpg(pgid, 0) succeeding for good.
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
        // Fields after the command name, which may itself hold spaces and parentheses.
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

}  // namespace

std::unique_ptr<ChromiumProcess> ChromiumProcess::launch(const ChromiumLaunchOptions& options)
{
    const std::string executable = executable_path();
    const std::filesystem::path folder = make_folder();
    pid_t pid = 0;
    Pipe commands;
    Pipe messages;
    try {
        commands = make_pipe();
        messages = make_pipe();
        pid = spawn(browser_arguments(executable, folder, options), folder / kLogName, commands.read_end.get(),
                    messages.write_end.get());
    } catch (const AutomationError&) {
        remove_folder(folder);
        throw;
    }
    commands.read_end = Fd();
    messages.write_end = Fd();
    const pid_t keeper = shows_window(options) ? spawn_keeper(pid, folder, commands.write_end.get()) : 0;

    std::unique_ptr<ChromiumProcess> process;
    try {
        process.reset(
            new ChromiumProcess(executable, folder, pid, commands.write_end.release(), messages.read_end.release()));
        process->m_keeper = keeper;
    } catch (...) {
        ::killpg(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        remove_folder(folder);
        throw;
    }

    try {
        process->m_version =
            process->session().send("Browser.getVersion", nlohmann::json::object(), {}, options.start_timeout);
        return process;
    } catch (const ProtocolError& error) {
        std::string description = "Chromium (" + executable + ") ";
        if (error.kind() == ProtocolError::Kind::kTimedOut) {
            description +=
                "did not answer within " + std::to_string(options.start_timeout.count()) + " ms of its start";
        } else if (error.kind() == ProtocolError::Kind::kBrowserError) {
            description += "failed at start: " + error.description();
        } else {
            process->session().close();
            process->wait_for_exit(kExitAfterFailedStart);
            description += process->exit_description();
        }
        const std::string tail = process->log_tail();
        if (!tail.empty())
            description += "; its log ends: " + tail;
        process->finish(std::chrono::milliseconds::zero());
        throw start_error(std::move(description));
    }
}

ChromiumProcess::ChromiumProcess(std::string executable, std::filesystem::path folder, pid_t pid, int write_fd,
                                 int read_fd)
    : m_executable(std::move(executable)),
      m_folder(std::move(folder)),
      m_pid(pid),
      m_session(std::make_unique<ProtocolSession>(std::make_unique<PipeTransport>(write_fd, read_fd)))
{
}

ChromiumProcess::~ChromiumProcess()
{
    close();
}

std::filesystem::path ChromiumProcess::log_path() const
{
    return m_folder / kLogName;
}

void ChromiumProcess::close()
{
    if (m_closed)
        return;
    if (!m_session->closed()) {
        try {
            m_session->send("Browser.close", nlohmann::json::object(), {}, kCloseAnswerTimeout);
        } catch (const AutomationError&) {
            // The browser is gone or stuck; finish() ends it either way.
        }
    }
    finish(kExitTimeout);
}

void ChromiumProcess::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    m_session->close();
    if (!wait_for_exit(exit_timeout)) {
        ::killpg(m_pid, SIGKILL);
        wait_for_exit(kExitTimeout);
    }
    end_process_group();
    if (m_keeper > 0)
        ::waitpid(m_keeper, nullptr, WNOHANG);
    remove_folder(m_folder);
}

bool ChromiumProcess::wait_for_exit(std::chrono::milliseconds timeout)
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
            std::this_thread::sleep_for(kExitPollInterval);
        }
    }
    return true;
}

// Renderers and zygotes outlive the browser process by up to a second; once it has exited they
// have nothing left to save, so they are killed rather than waited for.
void ChromiumProcess::end_process_group()
{
    if (::killpg(m_pid, SIGKILL) != 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + kGroupExitTimeout;
    while (group_has_live_members(m_pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kExitPollInterval);
}

std::string ChromiumProcess::exit_description() const
{
    if (!m_exited)
        return "closed its pipe at start but kept running";
    if (m_exit_status == -1)
        return "exited at start";
    if (WIFSIGNALED(m_exit_status))
        return "was killed at start by signal " + std::to_string(WTERMSIG(m_exit_status)) + " (" +
               strsignal(WTERMSIG(m_exit_status)) + ")";
    return "exited at start with status " + std::to_string(WEXITSTATUS(m_exit_status));
}

std::string ChromiumProcess::log_tail() const
{
    std::ifstream log(log_path());
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        lines.push_back(std::move(line));
        if (lines.size() > kLogTailLines)
            lines.erase(lines.begin());
    }
    std::string tail;
    for (const auto& line : lines)
        tail += (tail.empty() ? "" : " | ") + line;
    return tail;
}

}  // namespace varne
