#include "platform/chromium/chromium_process.h"

#include "frame/automation_error.h"
#include "platform/chromium/browser_switches.h"
#include "platform/posix/child_process.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/output_tail.h"
#include "platform/transport/pipe_transport.h"
#include "platform/transport/server_unavailable.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varne::cdp {

namespace {

// Below this the browser's own descriptors 3 and 4 could collide with ours while they are moved.
constexpr int kFirstParentFd = 10;
constexpr int kLogTailLines = 5;
constexpr const char* kLogName = "chromium.log";
constexpr const char* kProfileName = "profile";

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
        throw server_unavailable("Cannot create a pipe for Chromium: " + posix::errno_text(errno));
    Fd low_read(ends[0]);
    Fd low_write(ends[1]);
    Pipe pipe{Fd(::fcntl(ends[0], F_DUPFD_CLOEXEC, kFirstParentFd)),
              Fd(::fcntl(ends[1], F_DUPFD_CLOEXEC, kFirstParentFd))};
    if (pipe.read_end.get() < 0 || pipe.write_end.get() < 0)
        throw server_unavailable("Cannot create a pipe for Chromium: " + posix::errno_text(errno));
    return pipe;
}

// Profile folders are locked (flock on the folder) by the process that uses them, for as long as
// it runs: the kernel drops the lock when that process ends, however it ends, so a folder that
// can be locked is one that nobody will use again. A folder is made under another name and gets
// its own once locked, so that no one sees it unlocked.
constexpr const char* kFolderPrefix = "varne-profile-";
constexpr const char* kNewFolderPrefix = ".varne-profile-new-";

std::mutex& folder_locks_mutex()
{
    static auto* mutex = new std::mutex;  // never freed: browsers may end while statics are destroyed
    return *mutex;
}

// The lock of each folder that this process uses, by path.
std::map<std::string, int>& folder_locks()
{
    static auto* locks = new std::map<std::string, int>;
    return *locks;
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

// A fresh folder, locked.
std::filesystem::path make_folder(const EnvironmentLookup& environment)
{
    const std::string base = posix::profile_base_folder(environment);
    remove_abandoned_folders(base);
    std::string made = base + "/" + kNewFolderPrefix + "XXXXXX";
    if (::mkdtemp(made.data()) == nullptr)
        throw server_unavailable("Cannot create a folder for Chromium's profile in " + base + ": " +
                                 posix::errno_text(errno));
    const std::string folder = base + "/" + kFolderPrefix + made.substr(made.size() - 6);
    Fd lock(::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.get() < 0 || ::flock(lock.get(), LOCK_EX) != 0 || ::rename(made.c_str(), folder.c_str()) != 0) {
        const int error = errno;
        ::rmdir(made.c_str());
        throw server_unavailable("Cannot lock the folder for Chromium's profile in " + base + ": " +
                                 posix::errno_text(error));
    }
    std::lock_guard guard(folder_locks_mutex());
    folder_locks()[folder] = lock.release();
    return folder;
}

// Lets the lock of a folder go to the keeper, which holds a copy of it, without removing the folder.
void release_folder_lock(const std::filesystem::path& folder)
{
    std::lock_guard guard(folder_locks_mutex());
    auto lock = folder_locks().find(folder.string());
    if (lock != folder_locks().end()) {
        ::close(lock->second);
        folder_locks().erase(lock);
    }
}

// Removes a folder of this process, then lets its lock go.
void remove_folder(const std::filesystem::path& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    release_folder_lock(folder);
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> browser_arguments(const std::string& executable, const std::filesystem::path& folder,
                                           const ChromiumLaunchOptions& options, bool shows_window)
{
    std::vector<std::string> args{executable};
    if (::geteuid() == 0)
        args.emplace_back("--no-sandbox");
    if (shows_window)
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
    return posix::spawn_child({.args = args, .output = log, .descriptors = {command_read, message_write}},
                              "Cannot start Chromium (" + args.front() + ")");
}

// Nothing is left when this process ends, however it ends: a small keeper in the browser's group
// holds the profile's lock and removes the profile once the browser has gone. A window that a
// person can see stays open: the keeper also holds the command pipe open (the browser quits when
// it closes); without a window it does not (`command_write` negative), so the browser ends with
// this process.
pid_t spawn_keeper(pid_t browser, const std::filesystem::path& folder, int command_write)
{
    int lock = -1;
    {
        std::lock_guard guard(folder_locks_mutex());
        auto found = folder_locks().find(folder.string());
        if (found != folder_locks().end())
            lock = found->second;
    }
    std::vector<int> descriptors;
    for (const int descriptor : {command_write, lock}) {
        if (descriptor >= 0)
            descriptors.push_back(descriptor);
    }
    const std::string script =
        "while [ \"$(cut -d' ' -f3 /proc/$1/stat 2>/dev/null || echo Z)\" != Z ]; do sleep 1; done;"
        " rm -rf -- \"$2\"";
    try {
        return posix::spawn_child(
            {.args = {"/bin/sh", "-c", script, "varne-keeper", std::to_string(browser), folder.string()},
             .descriptors = descriptors,
             .group = browser},
            "Cannot start the keeper of Chromium's profile");
    } catch (const AutomationError&) {
        return 0;  // without a keeper a window closes with this process, and the next start removes the profile
    }
}

}  // namespace

std::unique_ptr<ChromiumProcess> ChromiumProcess::launch(const EnvironmentLookup& environment,
                                                         const ChromiumLaunchOptions& options)
{
    posix::reap_let_go_children();
    const std::string executable = variable_or(environment, "VARNE_CHROMIUM", kDefaultExecutable);
    const bool shows_window = !options.headless && variable_set(environment, "DISPLAY");
    const std::filesystem::path folder = make_folder(environment);
    pid_t pid = 0;
    Pipe commands;
    Pipe messages;
    try {
        commands = make_pipe();
        messages = make_pipe();
        pid = spawn(browser_arguments(executable, folder, options, shows_window), folder / kLogName,
                    commands.read_end.get(), messages.write_end.get());
    } catch (const AutomationError&) {
        remove_folder(folder);
        throw;
    }
    commands.read_end = Fd();
    messages.write_end = Fd();
    const int command_write = commands.write_end.get();

    std::unique_ptr<ChromiumProcess> process;
    try {
        process.reset(
            new ChromiumProcess(executable, folder, pid, commands.write_end.release(), messages.read_end.release()));
        process->m_shows_window = shows_window;
    } catch (...) {
        ::killpg(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        remove_folder(folder);
        throw;
    }

    try {
        process->m_version =
            process->session().send("Browser.getVersion", nlohmann::json::object(), {}, options.start_timeout);
        // Only a browser that started gets its keeper: one that fails at start is ended and its
        // profile removed here, after its log has been read.
        process->m_keeper =
            posix::ChildProcess(spawn_keeper(pid, folder, process->m_shows_window ? command_write : -1));
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
            description += process->m_process.wait_for_exit(session_bounds::kExitAfterFailedStart)
                               ? process->m_process.exit_description()
                               : "closed its pipe at start but kept running";
        }
        const std::string tail = last_lines(read_file(process->log_path()), kLogTailLines);
        if (!tail.empty())
            description += "; its log ends: " + tail;
        process->finish(std::chrono::milliseconds::zero());
        throw server_unavailable(std::move(description));
    }
}

ChromiumProcess::ChromiumProcess(std::string executable, std::filesystem::path folder, pid_t pid, int write_fd,
                                 int read_fd)
    : m_executable(std::move(executable)),
      m_folder(std::move(folder)),
      m_process(pid),
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
    ask_to_close(*m_session);
    finish(session_bounds::kExit);
}

void ChromiumProcess::leave_open()
{
    if (m_closed)
        return;
    if (!m_shows_window || m_keeper.pid() <= 0) {
        close();
        return;
    }
    m_closed = true;
    m_session->close();
    release_folder_lock(m_folder);
    m_process.let_go();
    m_keeper.let_go();
}

void ChromiumProcess::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    m_session->close();
    if (!m_process.wait_for_exit(exit_timeout)) {
        ::killpg(m_process.pid(), SIGKILL);
        m_process.wait_for_exit(session_bounds::kExit);
    }
    // Renderers and zygotes outlive the browser process by up to a second.
    m_process.end_group(session_bounds::kGroupExit);
    m_keeper.wait_for_exit(std::chrono::milliseconds::zero());
    remove_folder(m_folder);
}

}  // namespace varne::cdp
