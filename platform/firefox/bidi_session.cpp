#include "platform/firefox/bidi_session.h"

namespace varne::bidi {

namespace {

using Json = nlohmann::json;

int32_t number_for(BidiError::Kind kind)
{
    // A browser found gone is reported as a server that is unavailable, as before any call.
    return kind == BidiError::Kind::kDisconnected ? error_number::kServerUnavailable : error_number::kUnspecified;
}

BidiError::Kind kind_of(CommandFailure failure)
{
    switch (failure) {
    case CommandFailure::kTimedOut:
        return BidiError::Kind::kTimedOut;
    case CommandFailure::kDisconnected:
    case CommandFailure::kTargetGone:
        return BidiError::Kind::kDisconnected;
    case CommandFailure::kRefused:
        break;
    }
    return BidiError::Kind::kBrowserError;
}

std::string string_field(const Json& message, const char* name)
{
    const auto found = message.find(name);
    if (found == message.end())
        return {};
    return found->is_string() ? found->get<std::string>() : found->dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

BidiError::BidiError(Kind kind, std::string description, std::string error, std::string message)
    : AutomationError(number_for(kind), std::move(description)),
      m_kind(kind),
      m_error(std::move(error)),
      m_message(std::move(message))
{
}

BidiSession::BidiSession(std::unique_ptr<MessageTransport> transport) : JsonSession(std::move(transport), "Firefox")
{
    start_reading();
}

BidiSession::~BidiSession()
{
    close();
}

Json BidiSession::send(std::string_view method, Json params, std::optional<Timeout> timeout)
{
    return std::move(*call(method, std::move(params), {}, nullptr, timeout).result);
}

BidiOutcome BidiSession::send_until(std::string_view method, Json params, EventCondition until,
                                    std::optional<Timeout> timeout)
{
    return call(method, std::move(params), {}, std::move(until), timeout);
}

bool BidiSession::post(std::string_view method, Json params)
{
    return post_command(method, params, {});
}

void BidiSession::dispatch(Json& message)
{
    const std::string type = message.value("type", std::string());
    if (type == "event") {
        BidiEvent event;
        event.method = message.value("method", std::string());
        if (const auto params = message.find("params"); params != message.end())
            event.params = std::move(*params);
        deliver(std::move(event));
        return;
    }
    // An error about a message it could not read comes without an id; nothing waits for it.
    const auto id = message.find("id");
    if (id == message.end() || !id->is_number_integer())
        return;
    if (type == "error")
        refuse(id->get<int64_t>(), message);
    else if (const auto result = message.find("result"); result != message.end())
        answer(id->get<int64_t>(), std::move(*result));
    else
        answer(id->get<int64_t>(), Json::object());
}

// Firefox writes the type and then the id at the start of every answer.
std::optional<int64_t> BidiSession::unreadable_answer_id(std::string_view text) const
{
    constexpr std::string_view kIdKey = R"("id":)";
    const auto key = text.substr(0, 40).find(kIdKey);
    if (key == std::string_view::npos)
        return std::nullopt;
    return leading_id(text.substr(key + kIdKey.size()));
}

std::exception_ptr BidiSession::failure(CommandFailure kind, std::string description) const
{
    return std::make_exception_ptr(BidiError(kind_of(kind), std::move(description)));
}

std::exception_ptr BidiSession::refusal(std::string_view method, const Json& message) const
{
    std::string error = string_field(message, "error");
    std::string text = string_field(message, "message");
    std::string description = "Firefox rejected " + std::string(method) + ": " + error;
    if (!text.empty())
        description += " (" + text + ")";
    return std::make_exception_ptr(
        BidiError(BidiError::Kind::kBrowserError, std::move(description), std::move(error), std::move(text)));
}

}  // namespace varne::bidi
