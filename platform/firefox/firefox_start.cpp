#include "platform/firefox/firefox_start.h"

#include "platform/session/session_bounds.h"
#include "platform/transport/websocket_transport.h"

#include <fstream>
#include <sstream>

namespace varne::bidi {

nlohmann::json new_session_params()
{
    return {{"capabilities", {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}}}};
}

nlohmann::json open_started_session(std::unique_ptr<BidiSession>& session, const WebAddress& server,
                                    std::chrono::milliseconds session_timeout,
                                    const std::function<AutomationError(const std::string&)>& failure,
                                    const std::function<std::optional<std::string>()>& exit_text)
{
    try {
        session = std::make_unique<BidiSession>(WebSocketTransport::connect(
            server, {}, HostHeader::kAsGiven, MessageTransport::Clock::now() + session_bounds::kConnect));
    } catch (const AutomationError& error) {
        throw failure("could not be reached at " + server.text() + ": " + error.description());
    }
    try {
        return session->send("session.new", new_session_params(), session_timeout);
    } catch (const BidiError& error) {
        if (error.kind() == BidiError::Kind::kTimedOut)
            throw failure("did not answer session.new within " + std::to_string(session_timeout.count()) +
                          " ms (it answers once its start-up tasks have run)");
        if (error.kind() == BidiError::Kind::kDisconnected) {
            if (auto ended = exit_text())
                throw failure(*ended);
        }
        throw failure("refused a new session: " + error.description());
    }
}

void ask_to_close(BidiSession* session) noexcept
{
    if (!session)
        return;
    if (!session->closed()) {
        try {
            session->send("browser.close", nlohmann::json::object(), session_bounds::kCloseAnswer);
        } catch (const AutomationError&) {
            // Its host ends it either way.
        }
    }
    session->close();
}

std::string file_text(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace varne::bidi
