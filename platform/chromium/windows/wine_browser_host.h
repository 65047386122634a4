#pragma once

#include "platform/chromium/browser_host.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/socket_transport.h"
#include "platform/transport/wine_host_program.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace varne::cdp {

// The host's own Chromium started from a Windows process under Wine. Pipe handles do not reach
// a host program there, but a socket does: the browser gets one end of a loopback socket pair as
// its descriptors 3 and 4, through a shell that writes its pid and a perl step that makes the
// socket blocking again and keeps descriptor 3 open across exec. close() ends the browser
// (watched through /proc, killed with /bin/kill when it stays) and removes its profile, as its
// watchdog does when this process ends without a close(); leave_open() hands a headed browser's
// connection to a keeper of the host, so that the browser runs on until its last window closes,
// and its watchdog then removes the profile.
class WineBrowserHost final : public BrowserHost {
public:
    // The host's Chromium unless the VARNE_CHROMIUM environment variable names another.
    static constexpr const char* kDefaultExecutable = "/usr/lib/chromium/chromium";

    // Reads VARNE_CHROMIUM and DISPLAY through `environment`. Raises AutomationError (server
    // unavailable) saying why when the browser cannot be started or does not answer within start_timeout.
    static std::unique_ptr<WineBrowserHost> launch(const EnvironmentLookup& environment, bool headless,
                                                   std::chrono::milliseconds start_timeout = session_bounds::kLaunch);

    ~WineBrowserHost() override;
    WineBrowserHost(const WineBrowserHost&) = delete;
    WineBrowserHost& operator=(const WineBrowserHost&) = delete;

    ProtocolSession& session() override { return *m_session; }
    void close() override;
    void leave_open() override;
    // The browser's process id on the host, and the folder of its profile and log.
    int pid() const { return m_program->pid(); }
    const std::filesystem::path& folder() const { return m_program->folder(); }

private:
    WineBrowserHost(std::unique_ptr<WineHostProgram> program, std::unique_ptr<SocketTransport> transport,
                    bool shows_window);
    void finish();

    std::unique_ptr<WineHostProgram> m_program;
    SocketTransport* m_transport;  // the session's
    std::unique_ptr<ProtocolSession> m_session;
    bool m_shows_window;
    bool m_closed = false;
};

}  // namespace varne::cdp
