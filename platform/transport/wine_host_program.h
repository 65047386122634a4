#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace varne {

// Whether this Windows process runs under Wine (ntdll then exports wine_get_version).
bool running_under_wine();

// A program of the host that a Windows process under Wine starts: CreateProcessW runs the host's
// /bin/sh, which writes its pid into the program's folder and execs the program, so that it can be
// watched through Z:\proc and ended with the host's /bin/kill. The folder (under %TEMP%) holds
// what the program writes; finish() removes it.
class WineHostProgram {
public:
    // Makes a fresh folder named `prefix` and a number under %TEMP%. Raises AutomationError (server
    // unavailable) when it cannot.
    explicit WineHostProgram(const std::string& prefix);
    ~WineHostProgram();
    WineHostProgram(const WineHostProgram&) = delete;
    WineHostProgram& operator=(const WineHostProgram&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    // The host's name of folder(), for the program's command line.
    const std::string& host_folder() const { return m_host_folder; }

    // Runs `/bin/sh -c` with "echo $$ > pid; " and then `script` (which should exec the program),
    // with `standard` (when not null) as the shell's stdin, stdout and stderr. Raises AutomationError
    // (server unavailable) when the shell cannot be started.
    void start(const std::string& script, HANDLE standard = nullptr);
    // Waits up to `deadline` for the shell's pid; false when none came.
    bool wait_for_pid(std::chrono::steady_clock::time_point deadline);
    int pid() const { return m_pid; }
    bool alive() const;
    // The last few lines of a file of the folder, joined by " | ", for an error text.
    std::string tail_of(const std::string& file_name) const;

    // Waits up to `exit_timeout` for the program to exit, kills it when it stays, and removes the
    // folder. Never raises; later calls do nothing.
    void finish(std::chrono::milliseconds exit_timeout) noexcept;
    // Leaves the program running with nothing of it kept here: a keeper of the host holds `held`
    // (inheritable; its standard handles) until the program has exited, then removes the folder.
    // Without a keeper the program is finished as by finish(). Never raises; later calls do nothing.
    void hand_to_keeper(HANDLE held, std::chrono::milliseconds exit_timeout) noexcept;
    // Leaves the program and its folder to what the script set up to watch it. Later calls do nothing.
    void let_go() noexcept { m_finished = true; }

private:
    std::filesystem::path m_folder;
    std::string m_host_folder;
    int m_pid = 0;
    bool m_finished = false;
};

// One word for the host's shell, in single quotes.
std::string shell_quoted(const std::string& word);

// A condition of the host's shell that holds while the process `pid` (a number or a shell
// expansion) runs; a zombie has exited.
std::string shell_runs(const std::string& pid);

// A line of the host's shell that returns once the process `pid` has exited.
std::string shell_wait_for_exit(const std::string& pid);

// This process's own pid on the host, where Wine's process ids are of its own; 0 when unknown.
int host_pid_of_this_process();

}  // namespace varne
