#pragma once

#include "platform/chromium/browser_host.h"
#include "platform/transport/windows_browser_program.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace varne::cdp {

// The browser named by the VARNE_CHROMIUM environment variable; nothing when it is unset or empty.
std::optional<std::filesystem::path> chosen_browser();

// The first of msedge.exe and chrome.exe that App Paths (HKCU, then HKLM) registers with a file
// that exists; nothing when neither is.
std::optional<std::filesystem::path> installed_browser();

// The program a browser of Windows is started from: the chosen one, else the installed one.
std::optional<std::filesystem::path> windows_browser_program();

// A Chromium-based browser of Windows (Edge, Chrome, or the VARNE_CHROMIUM program) started by
// this process in a fresh profile under %TEMP% (WindowsBrowserProgram), driven over its debugging
// pipe. A headed one is also given the writing end of its own command pipe, so that its window
// stays open after this process ends.
class WindowsBrowserHost final : public BrowserHost {
public:
    // Raises AutomationError (server unavailable) saying why when no browser is found, it cannot
    // be started, or it does not answer within start_timeout.
    static std::unique_ptr<WindowsBrowserHost>
    launch(bool headless, std::chrono::milliseconds start_timeout = std::chrono::seconds(10));

    ~WindowsBrowserHost() override;
    WindowsBrowserHost(const WindowsBrowserHost&) = delete;
    WindowsBrowserHost& operator=(const WindowsBrowserHost&) = delete;

    ProtocolSession& session() override { return *m_session; }
    // The browser process's first visible top-level window, looked for during a few seconds at
    // the first call and kept from then on; nothing for a headless browser.
    std::optional<int32_t> native_window() override;
    // Sends Browser.close, waits for the browser to exit (ending it, and its job, when it does not
    // within a few seconds) and removes the profile. Never raises; later calls do nothing.
    void close() override;
    // A headed browser runs outside the job and holds its own command pipe and profile lock, so
    // letting go is closing this end of the connection.
    void leave_open() override;

    DWORD process_id() const { return m_program.process_id(); }
    const std::filesystem::path& folder() const { return m_program.folder(); }

private:
    explicit WindowsBrowserHost(bool headless);
    void finish(std::chrono::milliseconds exit_timeout);

    WindowsBrowserProgram m_program;
    std::optional<std::optional<int32_t>> m_window;
    bool m_closed = false;
    std::unique_ptr<ProtocolSession> m_session;
};

}  // namespace varne::cdp
