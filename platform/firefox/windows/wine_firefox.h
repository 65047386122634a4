#pragma once

#include "platform/environment.h"
#include "platform/firefox/started_firefox.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/wine_host_program.h"

#include <chrono>
#include <filesystem>
#include <memory>

namespace varne::bidi {

// The host's own Firefox started from a Windows process under Wine: a program of the host in a
// fresh profile under %TEMP%, which prints the port of its BiDi server, reached from here over a
// WebSocket of 127.0.0.1. close() ends the session and the browser (killed with /bin/kill when it
// stays) and removes the profile; leave_open() lets go of a browser that shows its window, which
// its watchdog then keeps until the browser exits, and removes the profile after.
class WineFirefox final : public StartedFirefox {
public:
    // The host's Firefox unless the VARNE_FIREFOX environment variable names another.
    static constexpr const char* kDefaultExecutable = "/usr/bin/firefox-esr";

    // Reads VARNE_FIREFOX and DISPLAY through `environment`. Raises AutomationError (server
    // unavailable) saying which step of the start failed: the shell
    // or the program could not start, it printed no BiDi address within listen_timeout, or it did
    // not answer session.new within session_timeout (Firefox answers once its start-up tasks have run).
    static std::unique_ptr<WineFirefox>
    launch(const EnvironmentLookup& environment, bool headless,
           std::chrono::milliseconds listen_timeout = session_bounds::kFirefoxListen,
           std::chrono::milliseconds session_timeout = session_bounds::kFirefoxSession);

    ~WineFirefox() override;
    WineFirefox(const WineFirefox&) = delete;
    WineFirefox& operator=(const WineFirefox&) = delete;

    BidiSession& session() override { return *m_session; }
    bool shows_window() const override { return m_shows_window; }
    void close() noexcept override;
    void leave_open() noexcept override;
    const std::filesystem::path& folder() const { return m_program->folder(); }

private:
    WineFirefox(std::unique_ptr<WineHostProgram> program, std::string executable, bool shows_window);
    void connect(std::chrono::milliseconds listen_timeout, std::chrono::milliseconds session_timeout);

    std::unique_ptr<WineHostProgram> m_program;
    std::string m_executable;
    bool m_shows_window;
    std::unique_ptr<BidiSession> m_session;
    bool m_closed = false;
};

}  // namespace varne::bidi
