#include "platform/posix/child_process.h"

#include "frame/automation_error.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varne::posix {

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 5ms;

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
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

std::mutex& let_go_mutex()
{
    static auto* mutex = new std::mutex;  // never freed: browsers may end while statics are destroyed
    return *mutex;
}

std::vector<pid_t>& let_go_children()
{
    static auto* children = new std::vector<pid_t>;
    return *children;
}

}  // namespace

std::string errno_text(int error)
{
    return std::strerror(error);
}

pid_t spawn_child(const ChildSpawn& spawn, const std::string& failure)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (spawn.input >= 0)
        posix_spawn_file_actions_adddup2(&actions, spawn.input, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, spawn.output.empty() ? "/dev/null" : spawn.output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    int next = 3;
    for (const int descriptor : spawn.descriptors)
        posix_spawn_file_actions_adddup2(&actions, descriptor, next++);
    posix_spawn_file_actions_addclosefrom_np(&actions, next);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, spawn.group);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = spawn.args;
    const auto argv = pointers(args);
    std::vector<std::string> environment;
    std::vector<char*> envp;
    if (spawn.environment) {
        environment = *spawn.environment;
        envp = pointers(environment);
    }
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, args.front().c_str(), &actions, &attributes, argv.data(),
                                    spawn.environment ? envp.data() : environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw AutomationError(error_number::kServerUnavailable, failure + ": " + errno_text(error));
    return pid;
}

bool ChildProcess::wait_for_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_exited && m_pid > 0) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exited = true;
            m_status = status;
        } else if (done < 0 && errno != EINTR) {
            m_exited = true;
            m_status = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        } else {
            std::this_thread::sleep_for(kPollInterval);
        }
    }
    return true;
}

std::string ChildProcess::exit_description() const
{
    if (m_status == -1)
        return "exited at start";
    if (WIFSIGNALED(m_status))
        return "was killed at start by signal " + std::to_string(WTERMSIG(m_status)) + " (" +
               strsignal(WTERMSIG(m_status)) + ")";
    return "exited at start with status " + std::to_string(WEXITSTATUS(m_status));
}

void ChildProcess::end_group(std::chrono::milliseconds timeout) const
{
    if (m_pid <= 0 || ::killpg(m_pid, SIGKILL) != 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (group_has_live_members(m_pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
}

void ChildProcess::let_go()
{
    if (m_pid > 0 && !m_exited) {
        std::lock_guard guard(let_go_mutex());
        let_go_children().push_back(m_pid);
    }
    m_pid = 0;
    reap_let_go_children();
}

void reap_let_go_children()
{
    std::lock_guard guard(let_go_mutex());
    std::erase_if(let_go_children(), [](pid_t child) {
        const pid_t done = ::waitpid(child, nullptr, WNOHANG);
        return done == child || (done < 0 && errno != EINTR);
    });
}

std::string profile_base_folder(const EnvironmentLookup& environment)
{
    if (::access("/dev/shm", W_OK | X_OK) == 0)
        return "/dev/shm";
    return variable_or(environment, "TMPDIR", "/tmp");
}

}  // namespace varne::posix
