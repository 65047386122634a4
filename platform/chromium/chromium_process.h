#pragma once

#include "platform/chromium/browser_host.h"
#include "platform/session/session_bounds.h"
#include "platform/posix/child_process.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace varne::cdp {

// How to start Chromium.
struct ChromiumLaunchOptions {
    // Appended after the library's own flags (tests use them for host-resolver and proxy rules).
    std::vector<std::string> extra_args;
    // Headless even when DISPLAY names an X display; without one the browser is always headless.
    bool headless = false;
    // How long the browser may take to give its first answer.
    std::chrono::milliseconds start_timeout = session_bounds::kLaunch;
};

// A Chromium process in a fresh profile, driven over its debugging pipe. close() (or the destructor)
// leaves no process of its group and no profile behind.
class ChromiumProcess final : public BrowserHost {
public:
    // The executable used unless the VARNE_CHROMIUM environment variable names another.
    static constexpr const char* kDefaultExecutable = "/usr/lib/chromium/chromium";

    // Starts the browser with no window and waits for its answer to Browser.getVersion, reading
    // VARNE_CHROMIUM, DISPLAY and TMPDIR through `environment`. Ends within options.start_timeout,
    // or raises AutomationError (server unavailable) saying whether the executable could not be
    // started, exited at once or did not answer, with the end of its log.
    static std::unique_ptr<ChromiumProcess> launch(const EnvironmentLookup& environment,
                                                   const ChromiumLaunchOptions& options = {});

    ~ChromiumProcess() override;

    ChromiumProcess(const ChromiumProcess&) = delete;
    ChromiumProcess& operator=(const ChromiumProcess&) = delete;

    ProtocolSession& session() override { return *m_session; }
    // The answer to Browser.getVersion given at start.
    const nlohmann::json& version() const { return m_version; }
    pid_t pid() const { return m_process.pid(); }
    const std::string& executable() const { return m_executable; }
    // The temporary folder that holds the profile and the browser's log; removed by close().
    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path log_path() const;

    // Sends Browser.close, ends the connection, waits for the browser to exit (killing its process
    // group when it does not within a few seconds) and removes the temporary folder. Never raises;
    // later calls do nothing. Call from the owning thread.
    void close() override;
    // A headed browser's keeper holds the command pipe and the profile's lock: this process lets
    // go of both ends of the connection and of its child, which the keeper's group outlives.
    void leave_open() override;

private:
    ChromiumProcess(std::string executable, std::filesystem::path folder, pid_t pid, int write_fd, int read_fd);

    // Ends the connection, gives the browser `exit_timeout` to exit, then kills its group and removes the folder.
    void finish(std::chrono::milliseconds exit_timeout);

    std::string m_executable;
    std::filesystem::path m_folder;
    posix::ChildProcess m_process;
    posix::ChildProcess m_keeper;  // removes the profile once the browser is gone
    bool m_shows_window = false;
    bool m_closed = false;
    nlohmann::json m_version;
    std::unique_ptr<ProtocolSession> m_session;
};

}  // namespace varne::cdp
