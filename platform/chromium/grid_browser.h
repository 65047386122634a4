#pragma once

#include "platform/chromium/browser_host.h"
#include "platform/session/grid_link.h"
#include "platform/transport/browser_location.h"

#include <memory>
#include <string>

namespace varne::cdp {

// A browser session of a WebDriver Grid, driven over the session's DevTools WebSocket (se:cdp).
// While it lives, a watcher keeps the session from the Grid's idle time-out and notices a session
// that the Grid ended, which the Grid never reports on the socket. close() deletes the session.
class GridBrowser final : public RemoteBrowserHost {
public:
    // Asks the Grid at location.address for a new session and waits for it in the Grid's queue up to
    // location.queue_timeout. Raises AutomationError (server unavailable) naming the address when the
    // Grid cannot be reached (within seconds), refuses (with the Grid's message) or gives no slot in time.
    static std::unique_ptr<GridBrowser> open(const BrowserLocation& location);

    ProtocolSession& session() override { return m_link.session(); }
    const std::string& session_id() const { return m_link.grid().id(); }
    // Stops the watcher, ends the connection and deletes the session, freeing its slot.
    void close() override { m_link.close(); }

private:
    explicit GridBrowser(GridSession grid) : m_link(std::move(grid)) {}

    GridLink<ProtocolSession> m_link;
};

}  // namespace varne::cdp
