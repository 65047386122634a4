#pragma once

#include "platform/chromium/browser_host.h"
#include "platform/session/opened_pages.h"
#include "platform/transport/browser_location.h"

#include <memory>
#include <string>

namespace varne::cdp {

// A Chromium that runs already, reached over its DevTools WebSocket. The library opens pages in it and
// on close() closes those pages only; the browser itself goes on running.
class AttachedBrowser final : public RemoteBrowserHost {
public:
    // Connects to `address`: a ws:// browser address, or the http:// address of the debugging port,
    // whose /json/version names it. Raises AutomationError (server unavailable) naming the address
    // when it cannot be reached or is no browser, within a few seconds.
    static std::unique_ptr<AttachedBrowser> open(const WebAddress& address);

    ~AttachedBrowser() override;

    ProtocolSession& session() override { return *m_session; }
    // Closes every page target that this connection opened or that opened from them, then the connection.
    void close() override;

private:
    explicit AttachedBrowser(std::unique_ptr<ProtocolSession> session);

    std::unique_ptr<ProtocolSession> m_session;
    ProtocolSession::ListenerId m_listener = 0;
    OpenedPages m_targets;
    bool m_closed = false;
};

}  // namespace varne::cdp
