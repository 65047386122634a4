#pragma once

#include "platform/firefox/firefox_page_delegate.h"
#include "platform/session/grid_link.h"
#include "platform/transport/browser_location.h"

#include <memory>

namespace varne::bidi {

// A browser session of a WebDriver Grid asked for a Firefox with a WebDriver BiDi socket
// (webSocketUrl), and driven over that socket: the BiDi session is the Grid's own. The user's
// capabilities are merged over the library's, so another browser that speaks BiDi may be asked for.
// While it lives, a watcher keeps the session from the Grid's idle time-out and notices a session
// that the Grid ended. close() deletes the session.
class GridFirefox final : public FirefoxHost {
public:
    // Asks the Grid at location.address for a new session and waits for it in the Grid's queue up to
    // location.queue_timeout. Raises AutomationError (server unavailable) naming the address when the
    // Grid cannot be reached, refuses (with the Grid's message), gives no slot in time, or gives a
    // browser with no BiDi socket.
    static std::unique_ptr<GridFirefox> open(const BrowserLocation& location);

    BidiSession& session() override { return m_link.session(); }
    bool window_on_this_machine() const override { return false; }
    // Stops the watcher, ends the connection and deletes the session, freeing its slot.
    void close() noexcept override { m_link.close(); }

private:
    explicit GridFirefox(GridSession grid) : m_link(std::move(grid)) {}

    GridLink<BidiSession> m_link;
};

// The capabilities that the Grid is asked for: a Firefox with a BiDi socket and the prefs of the
// library's own profiles, the user's `wanted` merged over them (a null removes one), then the
// socket and the dialogs that the library answers itself, whatever `wanted` says.
nlohmann::json grid_firefox_capabilities(const nlohmann::json& wanted);

}  // namespace varne::bidi
