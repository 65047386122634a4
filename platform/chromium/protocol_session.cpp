#include "platform/chromium/protocol_session.h"

#include "platform/transport/lone_surrogates.h"

#include <algorithm>
#include <atomic>
#include <charconv>

namespace varne {

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

// Text that the browser sent may hold anything; what goes back out must still be valid UTF-8.
std::string to_text(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string command_text(int64_t id, std::string_view method, const Json& params, std::string_view session_id)
{
    std::string text = R"({"id":)" + std::to_string(id) + R"(,"method":)" + to_text(std::string(method)) +
                       R"(,"params":)" + to_text(params);
    if (!session_id.empty())
        text += R"(,"sessionId":)" + to_text(std::string(session_id));
    text += '}';
    escape_reserved_surrogates(text);
    return text;
}

// Set on the reader thread, so that calls that would wait on it can tell they are made from a listener.
thread_local const ProtocolSession* t_reading_session = nullptr;

ProtocolError browser_error(std::string_view method, const Json& error)
{
    const int64_t code = error.is_object() ? error.value("code", int64_t{0}) : 0;
    std::string message = error.is_object() ? error.value("message", std::string()) : to_text(error);
    std::string description = "Chromium rejected " + std::string(method) + ": " + std::to_string(code) + " " + message;
    if (const auto data = error.find("data"); error.is_object() && data != error.end())
        description += " (" + (data->is_string() ? data->get<std::string>() : to_text(*data)) + ")";
    return {ProtocolError::Kind::kBrowserError, number_for(ProtocolError::Kind::kBrowserError), std::move(description),
            code, std::move(message)};
}

}  // namespace

ProtocolError::ProtocolError(Kind kind, int32_t number, std::string description, int64_t code, std::string message)
    : page::TaskError(number, std::move(description), kind != Kind::kBrowserError),
      m_kind(kind),
      m_code(code),
      m_message(std::move(message))
{
}

struct ProtocolSession::Pending {
    std::string method;
    std::string session_id;
    EventCondition until;
    Timeout timeout;
    MessageTransport::Clock::time_point deadline;

    // Guarded by the session's m_mutex.
    bool done = false;
    CommandOutcome outcome;
    std::optional<ProtocolError> error;
    std::condition_variable finished;
};

struct ProtocolSession::ListenerEntry {
    ListenerId id;
    Listener listener;
    std::atomic<bool> active{true};
};

ProtocolSession::ProtocolSession(std::unique_ptr<MessageTransport> transport)
    : m_transport(std::move(transport)), m_reader([this] { read_loop(); })
{
}

ProtocolSession::~ProtocolSession()
{
    close();
}

Json ProtocolSession::send(std::string_view method, Json params, std::string_view session_id,
                           std::optional<Timeout> timeout)
{
    check_not_reader_thread(method);
    auto pending = start_command(method, std::move(params), session_id, nullptr, bound(timeout));
    return std::move(*await(pending).result);
}

CommandOutcome ProtocolSession::send_until(std::string_view method, Json params, std::string_view session_id,
                                           EventCondition until, std::optional<Timeout> timeout)
{
    check_not_reader_thread(method);
    return await(start_command(method, std::move(params), session_id, std::move(until), bound(timeout)));
}

bool ProtocolSession::post(std::string_view method, Json params, std::string_view session_id)
{
    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        id = m_next_id++;
    }
    const std::string text = command_text(id, method, params, session_id);
    return m_transport->send(text, MessageTransport::Clock::now() + default_timeout()) ==
           MessageTransport::SendResult::kSent;
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

ProtocolSession::ListenerId ProtocolSession::add_listener(Listener listener)
{
    auto entry = std::make_shared<ListenerEntry>();
    entry->listener = std::move(listener);
    std::lock_guard lock(m_listeners_mutex);
    entry->id = m_next_listener++;
    m_listeners.push_back(entry);
    return entry->id;
}

void ProtocolSession::remove_listener(ListenerId id)
{
    {
        std::lock_guard lock(m_listeners_mutex);
        const auto found =
            std::find_if(m_listeners.begin(), m_listeners.end(), [id](const auto& e) { return e->id == id; });
        if (found == m_listeners.end())
            return;
        (*found)->active = false;
        m_listeners.erase(found);
    }
    if (t_reading_session != this) {
        // Waits for a dispatch that may still be running the listener.
        std::lock_guard wait_for_dispatch(m_dispatch_mutex);
    }
}

ProtocolSession::Timeout ProtocolSession::default_timeout() const
{
    std::lock_guard lock(m_mutex);
    return m_default_timeout;
}

void ProtocolSession::set_default_timeout(Timeout timeout)
{
    std::lock_guard lock(m_mutex);
    m_default_timeout = timeout;
}

void ProtocolSession::close()
{
    m_transport->close("shut down by this program");
    if (t_reading_session != this)
        std::call_once(m_joined, [this] { m_reader.join(); });
}

bool ProtocolSession::closed() const
{
    return m_transport->closed();
}

std::string ProtocolSession::close_reason() const
{
    return m_transport->close_reason();
}

std::shared_ptr<ProtocolSession::Pending> ProtocolSession::start_command(std::string_view method, Json params,
                                                                         std::string_view session_id,
                                                                         EventCondition until, Timeout timeout)
{
    auto pending = std::make_shared<Pending>();
    pending->method = method;
    pending->session_id = session_id;
    pending->until = std::move(until);
    pending->timeout = timeout;
    pending->deadline = MessageTransport::Clock::now() + timeout;

    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            throw make_error(ProtocolError::Kind::kDisconnected, "Cannot send " + std::string(method) +
                                                                     ": the connection to Chromium is closed (" +
                                                                     m_close_reason + ")");
        id = m_next_id++;
        m_pending.emplace(id, pending);
    }

    const std::string text = command_text(id, method, params, session_id);
    const auto sent = m_transport->send(text, pending->deadline);
    if (sent != MessageTransport::SendResult::kSent) {
        std::lock_guard lock(m_mutex);
        m_pending.erase(id);
        if (sent == MessageTransport::SendResult::kTimedOut)
            throw make_error(ProtocolError::Kind::kTimedOut, "Chromium did not take " + pending->method + " within " +
                                                                 std::to_string(timeout.count()) + " ms");
        throw make_error(ProtocolError::Kind::kDisconnected, "Cannot send " + pending->method +
                                                                 ": the connection to Chromium is closed (" +
                                                                 m_transport->close_reason() + ")");
    }
    return pending;
}

CommandOutcome ProtocolSession::await(const std::shared_ptr<Pending>& pending)
{
    std::unique_lock lock(m_mutex);
    if (!pending->finished.wait_until(lock, pending->deadline, [&] { return pending->done; })) {
        std::erase_if(m_pending, [&](const auto& entry) { return entry.second == pending; });
        throw make_error(ProtocolError::Kind::kTimedOut, "Chromium did not answer " + pending->method + " within " +
                                                             std::to_string(pending->timeout.count()) + " ms");
    }
    if (pending->error)
        throw *pending->error;
    return std::move(pending->outcome);
}

ProtocolSession::Timeout ProtocolSession::bound(std::optional<Timeout> timeout) const
{
    return timeout ? *timeout : default_timeout();
}

void ProtocolSession::check_not_reader_thread(std::string_view method) const
{
    if (t_reading_session == this)
        throw AutomationError(error_number::kUnspecified,
                              std::string(method) + " cannot wait for its answer inside a protocol event listener");
}

void ProtocolSession::read_loop()
{
    t_reading_session = this;
    while (auto text = m_transport->receive(MessageTransport::Clock::time_point::max()))
        dispatch(std::move(*text));
    fail_all(m_transport->close_reason());
}

void ProtocolSession::dispatch(std::string&& text)
{
    reserve_lone_surrogates(text);
    Json message = Json::parse(text, nullptr, false);
    if (message.is_discarded()) {
        fail_unreadable_answer(text);
        return;
    }
    if (!message.is_object())
        return;

    if (const auto id = message.find("id"); id != message.end()) {
        if (id->is_number_integer())
            dispatch_answer(id->get<int64_t>(), message);
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
    dispatch_event(std::move(event));
}

// The browser writes the id first; a caller whose answer cannot be read is told so at once rather
// than when its bound runs out.
void ProtocolSession::fail_unreadable_answer(std::string_view text)
{
    constexpr std::string_view kIdPrefix = R"({"id":)";
    if (!text.starts_with(kIdPrefix))
        return;
    int64_t id = 0;
    const auto digits = text.substr(kIdPrefix.size());
    if (std::from_chars(digits.data(), digits.data() + digits.size(), id).ec != std::errc())
        return;
    settle(id, [](Pending& pending) {
        pending.error = make_error(ProtocolError::Kind::kBrowserError,
                                   "Chromium's answer to " + pending.method + " is not valid JSON");
    });
}

void ProtocolSession::dispatch_answer(int64_t id, Json& message)
{
    settle(id, [&](Pending& pending) {
        if (const auto error = message.find("error"); error != message.end())
            pending.error = browser_error(pending.method, *error);
        else if (const auto result = message.find("result"); result != message.end())
            pending.outcome.result = std::move(*result);
        else
            pending.outcome.result = Json::object();
    });
}

void ProtocolSession::settle(int64_t id, const std::function<void(Pending&)>& fill)
{
    std::shared_ptr<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_pending.find(id);
        if (found == m_pending.end())
            return;
        pending = found->second;
        m_pending.erase(found);
        fill(*pending);
        pending->done = true;
    }
    pending->finished.notify_all();
}

void ProtocolSession::dispatch_event(ProtocolEvent&& event)
{
    {
        std::vector<std::shared_ptr<ListenerEntry>> listeners;
        {
            std::lock_guard lock(m_listeners_mutex);
            listeners = m_listeners;
        }
        std::lock_guard dispatching(m_dispatch_mutex);
        for (const auto& entry : listeners) {
            if (!entry->active)
                continue;
            // A listener's failure must not end the reader: every later answer would be lost with it.
            try {
                entry->listener(event);
            } catch (...) {
            }
        }
    }

    // A crashed renderer never answers, and a detached session cannot.
    if (event.method == "Inspector.targetCrashed")
        fail_session_calls(event.session_id, "The page crashed before Chromium answered ");
    else if (event.method == "Target.detachedFromTarget" && event.params.is_object())
        fail_session_calls(event.params.value("sessionId", std::string()),
                           "The target was detached before Chromium answered ");

    // Conditions are tested under the lock, so that a caller that has given up (and whose condition
    // may refer to its own locals) has also been taken out of the table.
    std::vector<std::shared_ptr<Pending>> met;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            const auto& pending = it->second;
            if (pending->until && pending->until(event)) {
                pending->outcome.event = event;
                pending->done = true;
                met.push_back(pending);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& pending : met)
        pending->finished.notify_all();
}

void ProtocolSession::fail_session_calls(const std::string& session_id, std::string_view why)
{
    if (session_id.empty())
        return;
    std::vector<std::shared_ptr<Pending>> failed;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second->session_id == session_id) {
                it->second->error = make_error(ProtocolError::Kind::kTargetGone, std::string(why) + it->second->method);
                it->second->done = true;
                failed.push_back(it->second);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& pending : failed)
        pending->finished.notify_all();
}

void ProtocolSession::fail_all(std::string_view why)
{
    std::map<int64_t, std::shared_ptr<Pending>> failed;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_close_reason = why;
        failed.swap(m_pending);
        for (auto& [id, pending] : failed) {
            pending->error =
                make_error(ProtocolError::Kind::kDisconnected, "The connection to Chromium closed before it answered " +
                                                                   pending->method + ": " + std::string(why));
            pending->done = true;
        }
    }
    for (const auto& [id, pending] : failed)
        pending->finished.notify_all();
}

}  // namespace varne
