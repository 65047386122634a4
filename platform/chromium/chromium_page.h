#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/chromium/browser_host.h"
#include "platform/chromium/devtools_client.h"
#include "platform/chromium/page_state.h"

namespace varne {

// One browser with the one page that a browser application shows, and the state
// that the page's events keep. Shared by the application and every object it hands out.
class ChromiumPage {
public:
    // Starts the browser and its page; raises AutomationError saying why when it cannot. The page's
    // window handle is its browser's real window where the host has one, `window_handle` otherwise.
    ChromiumPage(int32_t window_handle, bool headless);
    ~ChromiumPage();
    ChromiumPage(const ChromiumPage&) = delete;
    ChromiumPage& operator=(const ChromiumPage&) = delete;

    PageState& state() { return m_state; }
    cdp::PageClient& client() { return *m_client; }
    int32_t window_handle() const { return m_window_handle; }
    // Whether the browser ends with its application rather than staying open for a person to see.
    bool headless() const { return m_headless || !m_host->window_on_this_machine(); }

    // Raise an AutomationError at once when the browser or its page is gone.
    void check_alive() const;
    // As check_alive, and also while a JavaScript dialog holds the page, whose scripts cannot run.
    void check_page_free() const;
    // Runs a call into the page; one that the browser's or the page's end cut short fails as
    // every later call does (check_alive).
    template <class Call>
    auto call(Call&& into_page) -> decltype(into_page())
    {
        try {
            return into_page();
        } catch (const ProtocolError& error) {
            if (error.kind() != ProtocolError::Kind::kBrowserError)
                check_alive();
            throw;
        }
    }
    // The execution context of the frame's current document; raises when there is none in time.
    int64_t context_for(const std::string& frame_id) const;
    // Starts loading `url` (UTF-8) in the frame, which counts as loading from then on, and returns
    // without waiting for the load. Raises at once when the page is gone, and as the session does when
    // the command fails, the frame then no longer counting as loading.
    void navigate(const std::string& frame_id, const std::string& url);

    // Lets the page forget an object handle; nothing happens once the browser is gone.
    void release_object(const std::string& object_id) noexcept;

    // Ends the browser and removes its profile; later calls fail as for a browser that died.
    void close();

private:
    int32_t m_window_handle;
    bool m_headless;
    std::unique_ptr<BrowserHost> m_host;
    PageState m_state;
    std::unique_ptr<cdp::PageClient> m_client;
};

}  // namespace varne
