#include "platform/chromium/attached_browser.h"

#include "frame/automation_error.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/websocket_transport.h"

namespace varne::cdp {

namespace {

using namespace std::chrono_literals;

constexpr auto kAnswerTimeout = 5000ms;

AutomationError not_a_browser(const WebAddress& address, const std::string& why)
{
    return {error_number::kServerUnavailable, "No Chromium answers at " + address.text() + ": " + why};
}

// The browser's own WebSocket address, reached through the host and port that the user gave: the
// browser names the address it listens on, which may not be the one that leads to it from here.
WebAddress browser_socket(const WebAddress& address)
{
    if (address.scheme == "ws")
        return address;
    const auto answer =
        http_exchange("GET", address, address.path + "/json/version", {}, std::nullopt, HostHeader::kResolvedAddress,
                      session_bounds::kConnect, MessageTransport::Clock::now() + kAnswerTimeout);
    if (answer.status != 200)
        throw not_a_browser(address, "/json/version answered HTTP " + std::to_string(answer.status));
    const auto version = nlohmann::json::parse(answer.body, nullptr, false);
    if (!version.is_object() || !version.contains("webSocketDebuggerUrl") ||
        !version["webSocketDebuggerUrl"].is_string())
        throw not_a_browser(address, "/json/version names no webSocketDebuggerUrl");
    const std::string named = version["webSocketDebuggerUrl"].get<std::string>();
    WebAddress socket;
    try {
        socket = parse_web_address("webSocketDebuggerUrl", named, {"ws"});
    } catch (const AutomationError& error) {
        throw not_a_browser(address, error.description());
    }
    socket.host = address.host;
    socket.port = address.port;
    return socket;
}

}  // namespace

std::unique_ptr<AttachedBrowser> AttachedBrowser::open(const WebAddress& address)
{
    const WebAddress socket = browser_socket(address);
    auto transport = WebSocketTransport::connect(socket, {}, HostHeader::kResolvedAddress,
                                                 MessageTransport::Clock::now() + session_bounds::kConnect);
    auto session = std::make_unique<ProtocolSession>(std::move(transport));
    try {
        session->send("Browser.getVersion", nlohmann::json::object(), {}, kAnswerTimeout);
    } catch (const ProtocolError& error) {
        throw not_a_browser(socket, error.description());
    }
    return std::unique_ptr<AttachedBrowser>(new AttachedBrowser(std::move(session)));
}

AttachedBrowser::AttachedBrowser(std::unique_ptr<ProtocolSession> session) : m_session(std::move(session))
{
    // Pages are attached over this connection only when this library opened them, or when they
    // opened from a page that it opened; the user's own pages stay unseen.
    m_listener = m_session->add_listener([this](const ProtocolEvent& event) {
        if (event.method != "Target.attachedToTarget")
            return;
        const auto& target = event.params.value("targetInfo", nlohmann::json::object());
        if (target.value("type", "") != "page")
            return;
        m_targets.add(target.value("targetId", ""));
    });
}

AttachedBrowser::~AttachedBrowser()
{
    close();
}

void AttachedBrowser::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_session->remove_listener(m_listener);
    m_targets.close_all(*m_session, [this](const std::string& target) {
        m_session->send("Target.closeTarget", {{"targetId", target}}, {}, session_bounds::kCloseAnswer);
    });
    m_session->close();
}

}  // namespace varne::cdp
