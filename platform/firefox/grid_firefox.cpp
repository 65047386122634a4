#include "platform/firefox/grid_firefox.h"

#include "frame/automation_error.h"
#include "platform/firefox/firefox_profile.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/websocket_transport.h"

namespace varne::bidi {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kAnswerTimeout = 10000ms;
constexpr auto kPingTimeout = 2000ms;

GridWatcher::Ping ping(BidiSession& session)
{
    try {
        session.send("session.status", Json::object(), kPingTimeout);
        return GridWatcher::Ping::kAnswered;
    } catch (const BidiError& error) {
        if (error.kind() == BidiError::Kind::kDisconnected)
            return GridWatcher::Ping::kDisconnected;
        return error.kind() == BidiError::Kind::kTimedOut ? GridWatcher::Ping::kNoAnswer : GridWatcher::Ping::kAnswered;
    }
}

}  // namespace

Json grid_firefox_capabilities(const Json& wanted)
{
    Json prefs = Json::object();
    for (const auto& pref : firefox_profile_prefs())
        prefs[std::string(pref.name)] = pref.value;
    Json capabilities{{"browserName", "firefox"}, {"moz:firefoxOptions", {{"prefs", prefs}}}};
    capabilities.merge_patch(wanted);
    capabilities["webSocketUrl"] = true;
    // The library answers dialogs itself; with any other setting the driver would answer them first.
    capabilities["unhandledPromptBehavior"] = "ignore";
    return capabilities;
}

std::unique_ptr<GridFirefox> GridFirefox::open(const BrowserLocation& location)
{
    std::unique_ptr<GridFirefox> browser(new GridFirefox(GridSession::create(
        location.address, location.headers, grid_firefox_capabilities(location.capabilities), location.queue_timeout)));
    const GridSession& grid = browser->m_grid;
    auto transport =
        grid.open_socket("webSocketUrl", "The Grid at " + grid.origin() +
                                             " gave a browser with no WebDriver BiDi address (webSocketUrl)");
    browser->m_transport = transport.get();
    browser->m_session = std::make_unique<BidiSession>(std::move(transport));
    try {
        browser->m_session->send("session.status", Json::object(), kAnswerTimeout);
    } catch (const BidiError& error) {
        throw AutomationError(error_number::kServerUnavailable, "The Grid's browser of session " + grid.id() +
                                                                    " does not answer: " + error.description());
    }
    browser->m_watcher = std::make_unique<GridWatcher>(
        grid, *browser->m_transport, [raw = browser.get()] { return ping(*raw->m_session); },
        session_bounds::kGridSilence);
    return browser;
}

GridFirefox::GridFirefox(GridSession grid) : m_grid(std::move(grid)) {}

GridFirefox::~GridFirefox()
{
    close();
}

void GridFirefox::close() noexcept
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

}  // namespace varne::bidi
