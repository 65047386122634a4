#pragma once

#include "platform/firefox/firefox_page_delegate.h"
#include "platform/session/opened_pages.h"
#include "platform/transport/web_address.h"

#include <memory>
#include <optional>
#include <string>

namespace varne::bidi {

// A Firefox that runs already, reached over its WebDriver BiDi WebSocket. The library opens a tab
// of its own there in a session of its own, and on close() closes that tab and the tabs opened from
// it, then ends the session; the browser goes on running. Firefox holds one session at a time.
class AttachedFirefox final : public FirefoxHost {
public:
    // Connects to `address` (ws://host:port, the path /session when none is given), opens a session
    // that leaves dialogs open for the library, and a tab. Raises AutomationError (server
    // unavailable) naming the address when it cannot be reached, is no Firefox, or has a session
    // of another client already.
    static std::unique_ptr<AttachedFirefox> open(WebAddress address);

    ~AttachedFirefox() override;
    AttachedFirefox(const AttachedFirefox&) = delete;
    AttachedFirefox& operator=(const AttachedFirefox&) = delete;

    BidiSession& session() override { return *m_session; }
    bool window_on_this_machine() const override { return false; }
    std::optional<std::string> own_tab() const override { return m_tab; }
    void close() noexcept override;

private:
    explicit AttachedFirefox(std::unique_ptr<BidiSession> session);

    std::unique_ptr<BidiSession> m_session;
    std::string m_tab;
    BidiSession::ListenerId m_listener = 0;
    OpenedPages m_tabs;  // the own tab and those opened from it
    bool m_closed = false;
};

}  // namespace varne::bidi
