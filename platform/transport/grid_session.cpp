#include "platform/transport/grid_session.h"

#include "frame/automation_error.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/websocket_transport.h"

namespace varne {

namespace {

using namespace std::chrono_literals;
using Clock = MessageTransport::Clock;

constexpr auto kConnectTimeout = 5000ms;
constexpr auto kAnswerTimeout = 10000ms;
constexpr auto kDeleteTimeout = 5000ms;
constexpr auto kStatusTimeout = 3000ms;
constexpr auto kSocketTimeout = 10000ms;
// Enough of a refusal to tell why; the Grid appends host and build details after it.
constexpr size_t kMessageLimit = 600;

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

}  // namespace

GridSession GridSession::create(WebAddress address, HttpHeaders headers, const nlohmann::json& capabilities,
                                std::chrono::seconds queue_timeout)
{
    const std::string origin = address.text();
    HttpHeaders request{{"Content-Type", "application/json; charset=utf-8"}};
    if (!address.user.empty() || !address.password.empty())
        request.emplace_back("Authorization", basic_authorization(address.user, address.password));
    request.insert(request.end(), headers.begin(), headers.end());

    const auto deadline = Clock::now() + queue_timeout + kAnswerTimeout;
    const nlohmann::json body{{"capabilities", {{"alwaysMatch", capabilities}}}};
    HttpAnswer answer;
    try {
        answer = http_exchange("POST", address, address.path + "/session", request, body.dump(), HostHeader::kAsGiven,
                               kConnectTimeout, deadline);
    } catch (const AutomationError&) {
        if (Clock::now() < deadline)
            throw;
        throw server_unavailable("The Grid at " + origin + " gave no browser within " +
                                 std::to_string(queue_timeout.count()) +
                                 " s of waiting in its queue (VARNE_REMOTE_QUEUE_TIMEOUT)");
    }
    const auto parsed = nlohmann::json::parse(answer.body, nullptr, false);
    const nlohmann::json* value = parsed.is_object() && parsed.contains("value") ? &parsed["value"] : nullptr;
    if (answer.status != 200 || value == nullptr || !value->is_object() || !value->contains("sessionId") ||
        !(*value)["sessionId"].is_string())
        throw server_unavailable(refusal(origin, answer));
    return GridSession(std::move(address), std::move(headers), (*value)["sessionId"].get<std::string>(),
                       value->value("capabilities", nlohmann::json::object()));
}

GridSession::GridSession(WebAddress address, HttpHeaders headers, std::string id, nlohmann::json capabilities)
    : m_address(std::move(address)),
      m_headers(std::move(headers)),
      m_id(std::move(id)),
      m_capabilities(std::move(capabilities))
{
}

HttpHeaders GridSession::request_headers() const
{
    HttpHeaders headers;
    if (!m_address.user.empty() || !m_address.password.empty())
        headers.emplace_back("Authorization", basic_authorization(m_address.user, m_address.password));
    headers.insert(headers.end(), m_headers.begin(), m_headers.end());
    return headers;
}

WebAddress GridSession::socket_address(const std::string& capability, const std::string& missing) const
{
    const auto found = m_capabilities.find(capability);
    if (found == m_capabilities.end() || !found->is_string())
        throw server_unavailable(missing);
    WebAddress socket;
    try {
        socket = parse_web_address("The Grid's " + capability, found->get<std::string>(), {"ws"});
    } catch (const AutomationError& error) {
        throw server_unavailable(error.description());
    }
    socket.host = m_address.host;
    socket.port = m_address.port;
    return socket;
}

std::unique_ptr<WebSocketTransport> GridSession::open_socket(const std::string& capability,
                                                             const std::string& missing) const
{
    return WebSocketTransport::connect(socket_address(capability, missing), request_headers(), HostHeader::kAsGiven,
                                       Clock::now() + kSocketTimeout);
}

bool GridSession::listed() const
{
    const auto answer = http_exchange("GET", m_address, m_address.path + "/status", request_headers(), std::nullopt,
                                      HostHeader::kAsGiven, kStatusTimeout, Clock::now() + kStatusTimeout);
    const auto status = nlohmann::json::parse(answer.body, nullptr, false);
    if (!status.is_object() || !status.contains("value") || !status["value"].is_object() ||
        !status["value"].contains("nodes") || !status["value"]["nodes"].is_array())
        return true;  // a status that lists no sessions proves nothing
    for (const auto& node : status["value"]["nodes"]) {
        for (const auto& slot : node.value("slots", nlohmann::json::array())) {
            const auto session = slot.find("session");
            if (session != slot.end() && session->is_object() && session->value("sessionId", "") == m_id)
                return true;
        }
    }
    return false;
}

void GridSession::remove() const noexcept
{
    try {
        http_exchange("DELETE", m_address, m_address.path + "/session/" + m_id, request_headers(), std::nullopt,
                      HostHeader::kAsGiven, kConnectTimeout, Clock::now() + kDeleteTimeout);
    } catch (...) {
        // The Grid is gone, and the session with it, or it ends the session at its idle time-out.
    }
}

}  // namespace varne
