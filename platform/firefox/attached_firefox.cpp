#include "platform/firefox/attached_firefox.h"

#include "frame/automation_error.h"
#include "platform/firefox/firefox_start.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/websocket_transport.h"

namespace varne::bidi {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kAnswerTimeout = session_bounds::kCommand;
// Firefox answers session.new only once its start-up tasks have run, which takes long on a busy
// machine when it has just been started.
constexpr auto kSessionTimeout = session_bounds::kFirefoxSession;

AutomationError not_reachable(const WebAddress& address, const std::string& why)
{
    return {error_number::kServerUnavailable, "No Firefox session can be had at " + address.text() + ": " + why};
}

}  // namespace

std::unique_ptr<AttachedFirefox> AttachedFirefox::open(WebAddress address)
{
    if (address.path.empty() || address.path == "/")
        address.path = "/session";
    auto session = std::make_unique<BidiSession>(WebSocketTransport::connect(
        address, {}, HostHeader::kAsGiven, MessageTransport::Clock::now() + session_bounds::kConnect));
    try {
        session->send("session.new", new_session_params(), kSessionTimeout);
    } catch (const BidiError& error) {
        if (error.error() == "session not created")
            throw not_reachable(address, error.message() + " (Firefox serves one client at a time)");
        throw not_reachable(address, error.description());
    }
    std::unique_ptr<AttachedFirefox> firefox(new AttachedFirefox(std::move(session)));
    try {
        const Json created = firefox->m_session->send("browsingContext.create", {{"type", "tab"}}, kAnswerTimeout);
        firefox->m_tab = created.value("context", "");
    } catch (const BidiError& error) {
        throw not_reachable(address, "it opens no tab: " + error.description());
    }
    firefox->m_tabs.add(firefox->m_tab);
    return firefox;
}

AttachedFirefox::AttachedFirefox(std::unique_ptr<BidiSession> session) : m_session(std::move(session))
{
    // The page's own windows are closed with it; the user's tabs stay.
    m_listener = m_session->add_listener([this](const BidiEvent& event) {
        if (event.method != "browsingContext.contextCreated" || event.params.value("parent", Json()).is_string())
            return;
        m_tabs.add_if_opened_by(event.params.value("originalOpener", ""), event.params.value("context", ""));
    });
}

AttachedFirefox::~AttachedFirefox()
{
    close();
}

void AttachedFirefox::close() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    m_session->remove_listener(m_listener);
    // Firefox keeps its only session taken until the session ends; a dropped socket does not end it.
    m_tabs.close_all(*m_session, [this](const std::string& tab) {
        m_session->send("browsingContext.close", {{"context", tab}, {"promptUnload", false}},
                        session_bounds::kCloseAnswer);
    });
    try {
        if (!m_session->closed())
            m_session->send("session.end", Json::object(), session_bounds::kCloseAnswer);
    } catch (const AutomationError&) {
        // Firefox is gone, or ends the session with the connection that closes below.
    }
    m_session->close();
}

}  // namespace varne::bidi
