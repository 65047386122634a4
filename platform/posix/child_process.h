#pragma once

#include "platform/environment.h"

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

// The browsers' child processes on POSIX: how they are started, watched, ended and let go of.
namespace varne::posix {

std::string errno_text(int error);

// What to start, and with what.
struct ChildSpawn {
    std::vector<std::string> args{};  // the program first
    // The child's environment; this process's own when unset.
    std::optional<std::vector<std::string>> environment{};
    int input = -1;  // its standard input; /dev/null when negative
    std::filesystem::path output{};  // its standard output and error, appended; /dev/null when empty
    // Descriptors of this process that the child gets as 3, 4, ... in this order; it gets no other.
    std::vector<int> descriptors{};
    pid_t group = 0;  // the process group it joins; 0 for a group of its own
};

// Starts the child with every signal at its default and none blocked. Raises AutomationError
// (server unavailable) "<failure>: <why>" when it cannot be started.
pid_t spawn_child(const ChildSpawn& spawn, const std::string& failure);

// A child of this process, from its start until it has been waited for.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid = 0) : m_pid(pid) {}

    pid_t pid() const { return m_pid; }
    // Waits up to `timeout` for it to exit; true once it has. One that another waiter reaped (a
    // host that ignores SIGCHLD) has exited, with no status to tell.
    bool wait_for_exit(std::chrono::milliseconds timeout);
    bool exited() const { return m_exited; }
    // How it ended at start: "exited at start with status 1", "was killed at start by signal 9 (Killed)".
    std::string exit_description() const;
    // Kills its process group, which it leads, and waits up to `timeout` until no member is left
    // alive: helpers outlive a browser by up to a second, with nothing left to save once it is gone.
    void end_group(std::chrono::milliseconds timeout) const;
    // Stops watching a child that is to outlive this object; it is reaped once it ends, at a later
    // let_go() or reap_let_go_children(), so that it does not stay a zombie while this process lives.
    void let_go();

private:
    pid_t m_pid;
    bool m_exited = false;
    int m_status = 0;
};

// Reaps the children let go of that have ended since.
void reap_let_go_children();

// A folder for a fresh profile: in memory where /dev/shm is usable (a profile on a disk busy with
// write-back makes a start two to three times slower), else in TMPDIR or /tmp.
std::string profile_base_folder(const EnvironmentLookup& environment);

}  // namespace varne::posix
