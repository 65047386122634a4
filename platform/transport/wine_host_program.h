#pragma once

#include "platform/transport/loopback_socket_pair.h"

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
//
// This process's host pid is not to be had (Wine opens Z:\proc\self in its server), so the shell
// gets a watch line instead: a socket whose other end only this object holds. Its end, when this
// object is done with the program or this process ends however it ends, sets the program's
// watchdog (shell_watchdog()) going.
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
    // with the watch line as the shell's stdin and `standard` (when not null; else /dev/null) as its
    // stdout: Wine hands a host program no other handle, not even its stderr. Raises
    // AutomationError (server unavailable) when the shell cannot be started.
    void start(const std::string& script, HANDLE standard = nullptr);
    // The start of a script for start() that, once the watch line ends, kills the program (unless
    // `keeps_running`: a window a person can see stays until closed), waits for it to exit and
    // removes the folder. The script's exec must keep the shell's pid for the program.
    std::string shell_watchdog(bool keeps_running) const;
    // Waits up to `deadline` for the shell's pid; false when none came.
    bool wait_for_pid(std::chrono::steady_clock::time_point deadline);
    int pid() const { return m_pid; }
    bool alive() const;
    // The last few lines of a file of the folder, joined by " | ", for an error text.
    std::string tail_of(const std::string& file_name) const;

    // Waits up to `exit_timeout` for the program to exit, kills it when it stays, and removes the
    // folder; the watchdog removes what is written there later. Never raises; later calls do
    // nothing.
    void finish(std::chrono::milliseconds exit_timeout) noexcept;
    // Leaves the program running with nothing of it kept here: a keeper of the host holds `held`
    // (inheritable; its standard handles) until the program has exited, and the watchdog, which
    // keeps the program running (shell_watchdog(true)), removes the folder then. Without a keeper
    // the program is finished as by finish(). Never raises; later calls do nothing.
    void hand_to_keeper(HANDLE held, std::chrono::milliseconds exit_timeout) noexcept;
    // Leaves the program and its folder to its watchdog. Later calls do nothing.
    void let_go() noexcept;

private:
    std::filesystem::path m_folder;
    std::string m_host_folder;
    UniqueSocket m_watch;
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

}  // namespace varne
