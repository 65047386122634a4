#pragma once

#include "platform/chromium/browser_host.h"

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

// A Chromium-based browser of Windows (Edge, Chrome, or the VARNE_CHROMIUM program) started by
// this process in a fresh profile under %TEMP%, driven over its debugging pipe. A headless one
// runs in a job that ends it with this process. A headed one runs outside the job and is given
// the writing end of its own command pipe and the lock of its profile, so that its window stays
// open after this process ends; the first start after it has ended removes that profile.
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

    DWORD process_id() const { return m_process_id; }
    const std::filesystem::path& folder() const { return m_folder; }

private:
    WindowsBrowserHost(std::filesystem::path folder, HANDLE folder_lock, bool headless);
    void finish(std::chrono::milliseconds exit_timeout);
    void end_job();
    void remove_folder();

    std::filesystem::path m_folder;
    HANDLE m_folder_lock;
    bool m_headless;
    HANDLE m_job;
    HANDLE m_process = nullptr;
    DWORD m_process_id = 0;
    std::optional<std::optional<int32_t>> m_window;
    bool m_closed = false;
    std::unique_ptr<ProtocolSession> m_session;
};

}  // namespace varne::cdp
