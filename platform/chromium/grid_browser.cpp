#include "platform/chromium/grid_browser.h"

#include "frame/automation_error.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/websocket_transport.h"

namespace varne {

namespace {

using namespace std::chrono_literals;

constexpr auto kAnswerTimeout = 10000ms;
constexpr auto kPingTimeout = 2000ms;

// The capabilities of a Chromium: the user's own over a Chrome.
nlohmann::json chromium_capabilities(const nlohmann::json& wanted)
{
    nlohmann::json capabilities = {{"browserName", "chrome"}};
    capabilities.merge_patch(wanted);
    // The library answers dialogs itself; with any other setting the driver would answer them first.
    capabilities["unhandledPromptBehavior"] = "ignore";
    return capabilities;
}

}  // namespace

std::unique_ptr<GridBrowser> GridBrowser::open(const BrowserLocation& location)
{
    std::unique_ptr<GridBrowser> browser(new GridBrowser(GridSession::create(
        location.address, location.headers, chromium_capabilities(location.capabilities), location.queue_timeout)));
    const GridSession& grid = browser->m_grid;
    auto transport = grid.open_socket("se:cdp", "The Grid at " + grid.origin() +
                                                    " gave a browser with no DevTools address (se:cdp); the library "
                                                    "drives Chromium-based browsers only");
    browser->m_transport = transport.get();
    browser->m_session = std::make_unique<ProtocolSession>(std::move(transport));
    try {
        browser->m_session->send("Browser.getVersion", nlohmann::json::object(), {}, kAnswerTimeout);
    } catch (const ProtocolError& error) {
        throw server_unavailable("The Grid's browser of session " + grid.id() +
                                 " does not answer: " + error.description());
    }
    browser->m_watcher = std::make_unique<GridWatcher>(
        grid, *browser->m_transport,
        [raw = browser.get()] {
            try {
                raw->m_session->send("Browser.getVersion", nlohmann::json::object(), {}, kPingTimeout);
                return GridWatcher::Ping::kAnswered;
            } catch (const ProtocolError& error) {
                if (error.kind() == ProtocolError::Kind::kDisconnected)
                    return GridWatcher::Ping::kDisconnected;
                return error.kind() == ProtocolError::Kind::kTimedOut ? GridWatcher::Ping::kNoAnswer
                                                                      : GridWatcher::Ping::kAnswered;
            }
        },
        session_bounds::kGridSilence);
    return browser;
}

GridBrowser::GridBrowser(GridSession grid) : m_grid(std::move(grid)) {}

GridBrowser::~GridBrowser()
{
    close();
}

void GridBrowser::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_watcher)
        m_watcher->stop();
    if (m_session)
        m_session->close();
    m_grid.remove();
}

}  // namespace varne
