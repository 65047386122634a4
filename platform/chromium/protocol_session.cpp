#include "platform/chromium/protocol_session.h"

namespace varne::cdp {

namespace {

using Json = nlohmann::json;

int32_t number_for(ProtocolError::Kind kind)
{
    switch (kind) {
    case ProtocolError::Kind::kDisconnected:
        return error_number::kServerUnavailable;  // as for a browser found gone before the call
    case ProtocolError::Kind::kTargetGone:
        return error_number::kObjectDisconnected;
    case ProtocolError::Kind::kBrowserError:
    case ProtocolError::Kind::kTimedOut:
        break;
    }
    return error_number::kUnspecified;
}

ProtocolError make_error(ProtocolError::Kind kind, std::string description)
{
    return {kind, number_for(kind), std::move(description)};
}

ProtocolError::Kind kind_of(CommandFailure failure)
{
    switch (failure) {
    case CommandFailure::kTimedOut:
        return ProtocolError::Kind::kTimedOut;
    case CommandFailure::kDisconnected:
        return ProtocolError::Kind::kDisconnected;
    case CommandFailure::kTargetGone:
        return ProtocolError::Kind::kTargetGone;
    case CommandFailure::kRefused:
        break;
    }
    return ProtocolError::Kind::kBrowserError;
}

// Text that the browser sent may hold anything; what goes into an error text must still be valid UTF-8.
std::string to_text(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

ProtocolError::ProtocolError(Kind kind, int32_t number, std::string description, int64_t code, std::string message)
    : page::TaskError(number, std::move(description), kind != Kind::kBrowserError),
      m_kind(kind),
      m_code(code),
      m_message(std::move(message))
{
}

ProtocolSession::ProtocolSession(std::unique_ptr<MessageTransport> transport)
    : JsonSession(std::move(transport), "Chromium")
{
    start_reading();
}

ProtocolSession::~ProtocolSession()
{
    close();
}

Json ProtocolSession::send(std::string_view method, Json params, std::string_view session_id,
                           std::optional<Timeout> timeout)
{
    return std::move(*call(method, std::move(params), session_id, nullptr, timeout).result);
}

std::vector<Json> ProtocolSession::send_all(const std::vector<BatchedCommand>& commands, std::string_view session_id,
                                            std::optional<Timeout> timeout)
{
    return call_all(commands, session_id, timeout);
}

CommandOutcome ProtocolSession::send_until(std::string_view method, Json params, std::string_view session_id,
                                           EventCondition until, std::optional<Timeout> timeout)
{
    return call(method, std::move(params), session_id, std::move(until), timeout);
}

bool ProtocolSession::post(std::string_view method, Json params, std::string_view session_id)
{
    return post_command(method, params, session_id);
}

std::string ProtocolSession::attach_to_target(std::string_view target_id, std::optional<Timeout> timeout)
{
    const Json result = send("Target.attachToTarget", {{"targetId", target_id}, {"flatten", true}}, {}, timeout);
    const auto session_id = result.find("sessionId");
    if (session_id == result.end() || !session_id->is_string())
        throw make_error(ProtocolError::Kind::kBrowserError,
                         "Chromium answered Target.attachToTarget without a session id: " + to_text(result));
    return session_id->get<std::string>();
}

void ProtocolSession::dispatch(Json& message)
{
    if (const auto id = message.find("id"); id != message.end()) {
        if (!id->is_number_integer())
            return;
        if (const auto error = message.find("error"); error != message.end())
            refuse(id->get<int64_t>(), *error);
        else if (const auto result = message.find("result"); result != message.end())
            answer(id->get<int64_t>(), std::move(*result));
        else
            answer(id->get<int64_t>(), Json::object());
        return;
    }
    const auto method = message.find("method");
    if (method == message.end() || !method->is_string())
        return;
    ProtocolEvent event;
    event.method = method->get<std::string>();
    if (const auto params = message.find("params"); params != message.end())
        event.params = std::move(*params);
    if (const auto session_id = message.find("sessionId"); session_id != message.end() && session_id->is_string())
        event.session_id = session_id->get<std::string>();
    const std::string crashed = event.method == "Inspector.targetCrashed" ? event.session_id : std::string();
    const std::string detached = event.method == "Target.detachedFromTarget" && event.params.is_object()
                                     ? event.params.value("sessionId", std::string())
                                     : std::string();
    deliver(std::move(event));
    // A crashed renderer never answers, and a detached session cannot.
    fail_target_calls(crashed, "The page crashed before Chromium answered ");
    fail_target_calls(detached, "The target was detached before Chromium answered ");
}

// The browser writes the id first.
std::optional<int64_t> ProtocolSession::unreadable_answer_id(std::string_view text) const
{
    constexpr std::string_view kIdPrefix = R"({"id":)";
    if (!text.starts_with(kIdPrefix))
        return std::nullopt;
    return leading_id(text.substr(kIdPrefix.size()));
}

std::exception_ptr ProtocolSession::failure(CommandFailure kind, std::string description) const
{
    return std::make_exception_ptr(make_error(kind_of(kind), std::move(description)));
}

std::exception_ptr ProtocolSession::refusal(std::string_view method, const Json& error) const
{
    const int64_t code = error.is_object() ? error.value("code", int64_t{0}) : 0;
    std::string message = error.is_object() ? error.value("message", std::string()) : to_text(error);
    std::string description = "Chromium rejected " + std::string(method) + ": " + std::to_string(code) + " " + message;
    if (const auto data = error.find("data"); error.is_object() && data != error.end())
        description += " (" + (data->is_string() ? data->get<std::string>() : to_text(*data)) + ")";
    return std::make_exception_ptr(ProtocolError(ProtocolError::Kind::kBrowserError,
                                                 number_for(ProtocolError::Kind::kBrowserError), std::move(description),
                                                 code, std::move(message)));
}

}  // namespace varne::cdp
