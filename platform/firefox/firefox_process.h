#pragma once

#include "platform/firefox/bidi_session.h"
#include "platform/firefox/firefox_profile.h"
#include "platform/firefox/started_firefox.h"
#include "platform/session/session_bounds.h"
#include "platform/posix/child_process.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <sys/types.h>

namespace varne::bidi {

// How to start Firefox.
struct FirefoxLaunchOptions {
    // Headless even when DISPLAY names an X display; without one the browser is always headless.
    bool headless = false;
    // How long the browser may take to print the address of its BiDi server.
    std::chrono::milliseconds listen_timeout = session_bounds::kFirefoxListen;
    // How long session.new may wait: Firefox answers it only once its start-up tasks have run.
    std::chrono::milliseconds session_timeout = session_bounds::kFirefoxSession;
};

// A Firefox process in a fresh profile with one BiDi session, which this class owns: Firefox ends
// neither with its connection nor with this process, and a connection dropped without session.end
// leaves its only session taken, so close() (or the destructor, or the watchdog when this process
// dies) ends it and leaves no process of its group and no profile behind.
class FirefoxProcess final : public StartedFirefox {
public:
    // The program used unless the VARNE_FIREFOX environment variable names another.
    static constexpr const char* kDefaultExecutable = "/usr/bin/firefox-esr";

    // Starts Firefox, connects to its BiDi server and opens a session that leaves dialogs open
    // for the library, reading VARNE_FIREFOX, DISPLAY and TMPDIR through `environment`. Raises AutomationError (server
    // unavailable) naming the step that failed: the program could not start, exited (with what it printed), printed no
    // address within options.listen_timeout, or did not answer session.new within options.session_timeout.
    static std::unique_ptr<FirefoxProcess> launch(const EnvironmentLookup& environment,
                                                  const FirefoxLaunchOptions& options = {});

    ~FirefoxProcess() override;

    FirefoxProcess(const FirefoxProcess&) = delete;
    FirefoxProcess& operator=(const FirefoxProcess&) = delete;

    BidiSession& session() override { return *m_session; }
    // The answer to session.new: the session id and the capabilities Firefox granted.
    const nlohmann::json& capabilities() const { return m_capabilities; }
    pid_t pid() const { return m_process.pid(); }
    const std::string& executable() const { return m_executable; }
    // The temporary folder that holds the profile and the browser's output; removed by close().
    const std::filesystem::path& folder() const { return m_folder; }
    // Whether a person can see its window; such a window stays open after this process ends.
    bool shows_window() const override { return m_shows_window; }

    // Ends the session (session.end, browser.close), waits a few seconds for Firefox to exit, kills
    // its process group and removes the temporary folder. Never raises; later calls do nothing.
    void close() noexcept override;
    // Lets go of a Firefox whose window a person sees, leaving it to its watchdog, which keeps it
    // until the window is closed and then removes the profile; close() for any other.
    void leave_open() noexcept override;

private:
    FirefoxProcess(std::string executable, std::filesystem::path folder, pid_t pid, bool shows_window);

    void connect(const FirefoxLaunchOptions& options);
    // Ends the browser that failed to start, and gives the error that says why.
    AutomationError start_failure(std::string description);
    void finish(std::chrono::milliseconds exit_timeout);
    void release_watchdog();

    std::string m_executable;
    std::filesystem::path m_folder;
    posix::ChildProcess m_process;
    bool m_shows_window;
    posix::ChildProcess m_watchdog;
    int m_watchdog_fd = -1;  // its end of the line the watchdog reads; EOF means this process is gone
    bool m_closed = false;
    nlohmann::json m_capabilities;
    std::unique_ptr<BidiSession> m_session;
};

}  // namespace varne::bidi
