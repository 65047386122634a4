#pragma once

#include "platform/environment.h"
#include "platform/firefox/started_firefox.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/windows_browser_program.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace varne::bidi {

// The program named by the VARNE_FIREFOX environment variable; nothing when it is unset or empty.
std::optional<std::filesystem::path> chosen_firefox(const EnvironmentLookup& environment);

// The firefox.exe that App Paths (HKCU, then HKLM) registers with a file that exists.
std::optional<std::filesystem::path> installed_firefox();

// The program a Firefox of Windows is started from: the chosen one, else the installed one.
std::optional<std::filesystem::path> windows_firefox_program(const EnvironmentLookup& environment);

// A Firefox of Windows (the VARNE_FIREFOX program, else firefox.exe from App Paths) started by this
// process in a fresh profile under %TEMP% (WindowsBrowserProgram), which writes the address of its
// BiDi server into that profile, reached over a WebSocket of 127.0.0.1. close() ends the session
// and the browser and removes the profile; leave_open() lets go of a headed one, whose window then
// stays open.
class WindowsFirefox final : public StartedFirefox {
public:
    // Reads VARNE_FIREFOX through `environment`. Raises AutomationError (server unavailable) saying
    // which step of the start failed: no program was found or it could not be started, it exited,
    // it gave no BiDi address within listen_timeout, or it did not answer session.new within
    // session_timeout (Firefox answers once its start-up tasks have run).
    static std::unique_ptr<WindowsFirefox>
    launch(const EnvironmentLookup& environment, bool headless,
           std::chrono::milliseconds listen_timeout = session_bounds::kFirefoxListen,
           std::chrono::milliseconds session_timeout = session_bounds::kFirefoxSession);

    ~WindowsFirefox() override;
    WindowsFirefox(const WindowsFirefox&) = delete;
    WindowsFirefox& operator=(const WindowsFirefox&) = delete;

    BidiSession& session() override { return *m_session; }
    bool shows_window() const override { return !m_program.headless(); }
    void close() noexcept override;
    void leave_open() noexcept override;
    DWORD process_id() const { return m_program.process_id(); }
    const std::filesystem::path& folder() const { return m_program.folder(); }

private:
    WindowsFirefox(std::filesystem::path executable, bool headless);
    void connect(std::chrono::milliseconds listen_timeout, std::chrono::milliseconds session_timeout);
    std::optional<std::pair<std::string, uint16_t>> listening_address() const;

    std::filesystem::path m_executable;
    WindowsBrowserProgram m_program;
    std::unique_ptr<BidiSession> m_session;
    bool m_closed = false;
};

}  // namespace varne::bidi
