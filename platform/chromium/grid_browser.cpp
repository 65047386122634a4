#include "platform/chromium/grid_browser.h"

#include "frame/automation_error.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/websocket_transport.h"

namespace varne {

namespace {

using namespace std::chrono_literals;
using Clock = MessageTransport::Clock;

constexpr auto kSocketTimeout = 10000ms;
constexpr auto kAnswerTimeout = 10000ms;
// The watcher's beat: often enough to tell a dead session within a command's bound, and to keep
// the Grid's idle time-out, which counts protocol traffic, from ever running out.
constexpr auto kWatchInterval = 1000ms;
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
    const WebAddress socket =
        grid.socket_address("se:cdp", "The Grid at " + grid.origin() +
                                          " gave a browser with no DevTools address (se:cdp); the library drives "
                                          "Chromium-based browsers only");
    auto transport = WebSocketTransport::connect(socket, grid.request_headers(), HostHeader::kAsGiven,
                                                 Clock::now() + kSocketTimeout);
    browser->m_transport = transport.get();
    browser->m_session = std::make_unique<ProtocolSession>(std::move(transport));
    try {
        browser->m_session->send("Browser.getVersion", nlohmann::json::object(), {}, kAnswerTimeout);
    } catch (const ProtocolError& error) {
        throw server_unavailable("The Grid's browser at " + socket.text() + " does not answer: " + error.description());
    }
    browser->m_watcher = std::thread([raw = browser.get()] { raw->watch(); });
    return browser;
}

GridBrowser::GridBrowser(GridSession grid) : m_grid(std::move(grid)) {}

GridBrowser::~GridBrowser()
{
    close();
}

void GridBrowser::watch()
{
    std::unique_lock lock(m_watch_mutex);
    while (!m_watch_stop.wait_for(lock, kWatchInterval, [this] { return m_stopping; })) {
        lock.unlock();
        std::string ended;
        try {
            m_session->send("Browser.getVersion", nlohmann::json::object(), {}, kPingTimeout);
        } catch (const ProtocolError& error) {
            if (error.kind() == ProtocolError::Kind::kDisconnected)
                return;
            if (error.kind() == ProtocolError::Kind::kTimedOut) {
                // The Grid keeps the socket open after it ends a session; only its status tells.
                try {
                    if (!m_grid.listed())
                        ended = "the Grid at " + m_grid.origin() + " ended browser session " + m_grid.id() +
                                " (it was idle longer than the Grid's session time-out, or its node was lost)";
                } catch (const AutomationError& failure) {
                    ended = "the Grid no longer answers: " + failure.description();
                }
            }
        }
        if (!ended.empty()) {
            m_transport->close(ended);
            return;
        }
        lock.lock();
    }
}

void GridBrowser::close()
{
    if (m_closed)
        return;
    m_closed = true;
    {
        std::lock_guard lock(m_watch_mutex);
        m_stopping = true;
    }
    m_watch_stop.notify_all();
    if (m_session)
        m_session->close();
    if (m_watcher.joinable())
        m_watcher.join();
    m_grid.remove();
}

}  // namespace varne
