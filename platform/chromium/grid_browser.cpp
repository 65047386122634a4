#include "platform/chromium/grid_browser.h"

#include "frame/automation_error.h"
#include "platform/transport/websocket_transport.h"

namespace varne {

namespace {

using namespace std::chrono_literals;
using Clock = MessageTransport::Clock;

constexpr auto kConnectTimeout = 5000ms;
constexpr auto kSocketTimeout = 10000ms;
constexpr auto kAnswerTimeout = 10000ms;
constexpr auto kDeleteTimeout = 5000ms;
// The watcher's beat: often enough to tell a dead session within a command's bound, and to keep
// the Grid's idle time-out, which counts protocol traffic, from ever running out.
constexpr auto kWatchInterval = 1000ms;
constexpr auto kPingTimeout = 2000ms;
constexpr auto kStatusTimeout = 3000ms;
// Enough of a refusal to tell why; the Grid appends host and build details after it.
constexpr size_t kMessageLimit = 600;

AutomationError grid_error(std::string description)
{
    return {error_number::kServerUnavailable, std::move(description)};
}

// The Grid's message without the build and host details that follow it.
std::string message_of(const nlohmann::json& value)
{
    std::string message = value.value("message", "");
    for (const char* tail : {"\nHost info:", "\nBuild info:", "\nSystem info:"}) {
        const auto at = message.find(tail);
        if (at != std::string::npos)
            message.erase(at);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (message.size() > kMessageLimit)
        message = message.substr(0, kMessageLimit) + "...";
    return message;
}

std::string refusal(const std::string& origin, const HttpAnswer& answer)
{
    const auto parsed = nlohmann::json::parse(answer.body, nullptr, false);
    std::string description =
        "The Grid at " + origin + " did not create a browser (HTTP " + std::to_string(answer.status) + ")";
    if (parsed.is_object() && parsed.contains("value") && parsed["value"].is_object()) {
        const auto& value = parsed["value"];
        const std::string error = value.value("error", "");
        const std::string message = message_of(value);
        if (!error.empty())
            description += ": " + error;
        if (!message.empty())
            description += ": " + message;
    } else if (!answer.body.empty()) {
        description += ": " + answer.body.substr(0, kMessageLimit);
    }
    return description;
}

nlohmann::json new_session_request(const nlohmann::json& wanted)
{
    nlohmann::json capabilities = {{"browserName", "chrome"}};
    capabilities.merge_patch(wanted);
    // The library answers dialogs itself; with any other setting the driver would answer them first.
    capabilities["unhandledPromptBehavior"] = "ignore";
    return {{"capabilities", {{"alwaysMatch", capabilities}}}};
}

}  // namespace

std::unique_ptr<GridBrowser> GridBrowser::open(const BrowserLocation& location)
{
    const WebAddress& address = location.address;
    const std::string origin = address.text();
    HttpHeaders headers{{"Content-Type", "application/json; charset=utf-8"}};
    if (!address.user.empty() || !address.password.empty())
        headers.emplace_back("Authorization", basic_authorization(address.user, address.password));
    headers.insert(headers.end(), location.headers.begin(), location.headers.end());

    const auto deadline = Clock::now() + location.queue_timeout + kAnswerTimeout;
    HttpAnswer answer;
    try {
        answer = http_exchange("POST", address, address.path + "/session", headers,
                               new_session_request(location.capabilities).dump(), HostHeader::kAsGiven, kConnectTimeout,
                               deadline);
    } catch (const AutomationError&) {
        if (Clock::now() < deadline)
            throw;
        throw grid_error("The Grid at " + origin + " gave no browser within " +
                         std::to_string(location.queue_timeout.count()) +
                         " s of waiting in its queue (VARNE_REMOTE_QUEUE_TIMEOUT)");
    }
    const auto parsed = nlohmann::json::parse(answer.body, nullptr, false);
    const nlohmann::json* value = parsed.is_object() && parsed.contains("value") ? &parsed["value"] : nullptr;
    if (answer.status != 200 || value == nullptr || !value->is_object() || !value->contains("sessionId") ||
        !(*value)["sessionId"].is_string())
        throw grid_error(refusal(origin, answer));

    std::unique_ptr<GridBrowser> browser(new GridBrowser(location, (*value)["sessionId"].get<std::string>()));
    const auto capabilities = value->value("capabilities", nlohmann::json::object());
    const auto cdp = capabilities.find("se:cdp");
    if (cdp == capabilities.end() || !cdp->is_string())
        throw grid_error("The Grid at " + origin + " gave a browser with no DevTools address (se:cdp); the library " +
                         "drives Chromium-based browsers only");
    WebAddress socket;
    try {
        socket = parse_web_address("The Grid's se:cdp", cdp->get<std::string>(), {"ws"});
    } catch (const AutomationError& error) {
        throw grid_error(error.description());
    }
    // The Grid names the host it was configured with, which may not lead to it from here.
    socket.host = address.host;
    socket.port = address.port;

    auto transport = WebSocketTransport::connect(socket, browser->request_headers(), HostHeader::kAsGiven,
                                                 Clock::now() + kSocketTimeout);
    browser->m_transport = transport.get();
    browser->m_session = std::make_unique<ProtocolSession>(std::move(transport));
    try {
        browser->m_session->send("Browser.getVersion", nlohmann::json::object(), {}, kAnswerTimeout);
    } catch (const ProtocolError& error) {
        throw grid_error("The Grid's browser at " + socket.text() + " does not answer: " + error.description());
    }
    browser->m_watcher = std::thread([raw = browser.get()] { raw->watch(); });
    return browser;
}

GridBrowser::GridBrowser(BrowserLocation location, std::string session_id)
    : m_location(std::move(location)), m_session_id(std::move(session_id))
{
}

GridBrowser::~GridBrowser()
{
    close();
}

HttpHeaders GridBrowser::request_headers() const
{
    HttpHeaders headers;
    const WebAddress& address = m_location.address;
    if (!address.user.empty() || !address.password.empty())
        headers.emplace_back("Authorization", basic_authorization(address.user, address.password));
    headers.insert(headers.end(), m_location.headers.begin(), m_location.headers.end());
    return headers;
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
                    if (!session_listed())
                        ended = "the Grid at " + m_location.address.text() + " ended browser session " + m_session_id +
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

bool GridBrowser::session_listed() const
{
    const WebAddress& address = m_location.address;
    const auto answer = http_exchange("GET", address, address.path + "/status", request_headers(), std::nullopt,
                                      HostHeader::kAsGiven, kStatusTimeout, Clock::now() + kStatusTimeout);
    const auto status = nlohmann::json::parse(answer.body, nullptr, false);
    if (!status.is_object() || !status.contains("value") || !status["value"].is_object() ||
        !status["value"].contains("nodes") || !status["value"]["nodes"].is_array())
        return true;  // a status that lists no sessions proves nothing
    for (const auto& node : status["value"]["nodes"]) {
        for (const auto& slot : node.value("slots", nlohmann::json::array())) {
            const auto session = slot.find("session");
            if (session != slot.end() && session->is_object() && session->value("sessionId", "") == m_session_id)
                return true;
        }
    }
    return false;
}

void GridBrowser::delete_session() const
{
    const WebAddress& address = m_location.address;
    try {
        http_exchange("DELETE", address, address.path + "/session/" + m_session_id, request_headers(), std::nullopt,
                      HostHeader::kAsGiven, kConnectTimeout, Clock::now() + kDeleteTimeout);
    } catch (const AutomationError&) {
        // The Grid is gone, and the session with it, or it ends the session at its idle time-out.
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
    delete_session();
}

}  // namespace varne
