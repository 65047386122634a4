#include "platform/firefox/bidi_session.h"

#include "platform/transport/lone_surrogates.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>

namespace varne {

namespace {

using Json = nlohmann::json;
using Clock = MessageTransport::Clock;

int32_t number_for(BidiError::Kind kind)
{
    // A browser found gone is reported as a server that is unavailable, as before any call.
    return kind == BidiError::Kind::kDisconnected ? error_number::kServerUnavailable : error_number::kUnspecified;
}

// Text that Firefox sent may hold anything; what goes back out must still be valid UTF-8.
std::string to_text(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string command_text(int64_t id, std::string_view method, const Json& params)
{
    std::string text = R"({"id":)" + std::to_string(id) + R"(,"method":)" + to_text(std::string(method)) +
                       R"(,"params":)" + to_text(params.is_object() ? params : Json::object()) + '}';
    escape_reserved_surrogates(text);
    return text;
}

std::string string_field(const Json& message, const char* name)
{
    const auto found = message.find(name);
    if (found == message.end())
        return {};
    return found->is_string() ? found->get<std::string>() : to_text(*found);
}

BidiError browser_error(std::string_view method, const Json& message)
{
    std::string error = string_field(message, "error");
    std::string text = string_field(message, "message");
    std::string description = "Firefox rejected " + std::string(method) + ": " + error;
    if (!text.empty())
        description += " (" + text + ")";
    return {BidiError::Kind::kBrowserError, std::move(description), std::move(error), std::move(text)};
}

// Set on the reader thread, so that calls that would wait on it can tell they are made from a listener.
thread_local const BidiSession* t_reading_session = nullptr;

}  // namespace

BidiError::BidiError(Kind kind, std::string description, std::string error, std::string message)
    : AutomationError(number_for(kind), std::move(description)),
      m_kind(kind),
      m_error(std::move(error)),
      m_message(std::move(message))
{
}

struct BidiSession::Pending {
    std::string method;
    EventCondition until;
    Timeout timeout;
    Clock::time_point deadline;

    // Guarded by the session's m_mutex.
    bool done = false;
    BidiOutcome outcome;
    std::optional<BidiError> error;
    std::condition_variable finished;
};

struct BidiSession::ListenerEntry {
    ListenerId id;
    Listener listener;
    std::atomic<bool> active{true};
};

BidiSession::BidiSession(std::unique_ptr<MessageTransport> transport)
    : m_transport(std::move(transport)), m_reader([this] { read_loop(); })
{
}

BidiSession::~BidiSession()
{
    close();
}

Json BidiSession::send(std::string_view method, Json params, std::optional<Timeout> timeout)
{
    check_not_reader_thread(method);
    return std::move(*await(start_command(method, params, nullptr, bound(timeout))).result);
}

BidiOutcome BidiSession::send_until(std::string_view method, Json params, EventCondition until,
                                    std::optional<Timeout> timeout)
{
    check_not_reader_thread(method);
    return await(start_command(method, params, std::move(until), bound(timeout)));
}

bool BidiSession::post(std::string_view method, Json params)
{
    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        id = m_next_id++;
    }
    return m_transport->send(command_text(id, method, params), Clock::now() + default_timeout()) ==
           MessageTransport::SendResult::kSent;
}

BidiSession::ListenerId BidiSession::add_listener(Listener listener)
{
    auto entry = std::make_shared<ListenerEntry>();
    entry->listener = std::move(listener);
    std::lock_guard lock(m_listeners_mutex);
    entry->id = m_next_listener++;
    m_listeners.push_back(entry);
    return entry->id;
}

void BidiSession::remove_listener(ListenerId id)
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

BidiSession::Timeout BidiSession::default_timeout() const
{
    std::lock_guard lock(m_mutex);
    return m_default_timeout;
}

void BidiSession::set_default_timeout(Timeout timeout)
{
    std::lock_guard lock(m_mutex);
    m_default_timeout = timeout;
}

void BidiSession::close()
{
    m_transport->close("shut down by this program");
    if (t_reading_session != this)
        std::call_once(m_joined, [this] { m_reader.join(); });
}

bool BidiSession::closed() const
{
    return m_transport->closed();
}

std::string BidiSession::close_reason() const
{
    return m_transport->close_reason();
}

std::shared_ptr<BidiSession::Pending> BidiSession::start_command(std::string_view method, const Json& params,
                                                                 EventCondition until, Timeout timeout)
{
    auto pending = std::make_shared<Pending>();
    pending->method = method;
    pending->until = std::move(until);
    pending->timeout = timeout;
    pending->deadline = Clock::now() + timeout;

    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            throw BidiError(BidiError::Kind::kDisconnected, "Cannot send " + pending->method +
                                                                ": the connection to Firefox is closed (" +
                                                                m_close_reason + ")");
        id = m_next_id++;
        m_pending.emplace(id, pending);
    }

    const auto sent = m_transport->send(command_text(id, method, params), pending->deadline);
    if (sent != MessageTransport::SendResult::kSent) {
        std::lock_guard lock(m_mutex);
        m_pending.erase(id);
        if (sent == MessageTransport::SendResult::kTimedOut)
            throw BidiError(BidiError::Kind::kTimedOut, "Firefox did not take " + pending->method + " within " +
                                                            std::to_string(timeout.count()) + " ms");
        throw BidiError(BidiError::Kind::kDisconnected, "Cannot send " + pending->method +
                                                            ": the connection to Firefox is closed (" +
                                                            m_transport->close_reason() + ")");
    }
    return pending;
}

BidiOutcome BidiSession::await(const std::shared_ptr<Pending>& pending)
{
    std::unique_lock lock(m_mutex);
    if (!pending->finished.wait_until(lock, pending->deadline, [&] { return pending->done; })) {
        std::erase_if(m_pending, [&](const auto& entry) { return entry.second == pending; });
        throw BidiError(BidiError::Kind::kTimedOut, "Firefox did not answer " + pending->method + " within " +
                                                        std::to_string(pending->timeout.count()) + " ms");
    }
    if (pending->error)
        throw *pending->error;
    return std::move(pending->outcome);
}

BidiSession::Timeout BidiSession::bound(std::optional<Timeout> timeout) const
{
    return timeout ? *timeout : default_timeout();
}

void BidiSession::check_not_reader_thread(std::string_view method) const
{
    if (t_reading_session == this)
        throw AutomationError(error_number::kUnspecified,
                              std::string(method) + " cannot wait for its answer inside a BiDi event listener");
}

void BidiSession::read_loop()
{
    t_reading_session = this;
    while (auto text = m_transport->receive(Clock::time_point::max()))
        dispatch(std::move(*text));
    fail_all(m_transport->close_reason());
}

void BidiSession::dispatch(std::string&& text)
{
    reserve_lone_surrogates(text);
    Json message = Json::parse(text, nullptr, false);
    if (message.is_discarded()) {
        fail_unreadable_answer(text);
        return;
    }
    if (!message.is_object())
        return;

    const std::string type = message.value("type", std::string());
    if (type == "event") {
        BidiEvent event;
        event.method = message.value("method", std::string());
        if (const auto params = message.find("params"); params != message.end())
            event.params = std::move(*params);
        dispatch_event(std::move(event));
        return;
    }
    // An error about a message it could not read comes without an id; nothing waits for it.
    const auto id = message.find("id");
    if (id == message.end() || !id->is_number_integer())
        return;
    settle(id->get<int64_t>(), [&](Pending& pending) {
        if (type == "error") {
            pending.error = browser_error(pending.method, message);
        } else if (const auto result = message.find("result"); result != message.end()) {
            pending.outcome.result = std::move(*result);
        } else {
            pending.outcome.result = Json::object();
        }
    });
}

// A caller whose answer cannot be read is told so at once rather than when its bound runs out.
// Firefox writes the type and then the id at the start of every answer.
void BidiSession::fail_unreadable_answer(std::string_view text)
{
    constexpr std::string_view kIdKey = R"("id":)";
    const auto key = text.substr(0, 40).find(kIdKey);
    if (key == std::string_view::npos)
        return;
    const auto digits = text.substr(key + kIdKey.size());
    int64_t id = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), id).ec != std::errc())
        return;
    settle(id, [](Pending& pending) {
        pending.error =
            BidiError(BidiError::Kind::kBrowserError, "Firefox's answer to " + pending.method + " is not valid JSON");
    });
}

void BidiSession::settle(int64_t id, const std::function<void(Pending&)>& fill)
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

void BidiSession::dispatch_event(BidiEvent&& event)
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

void BidiSession::fail_all(std::string_view why)
{
    std::map<int64_t, std::shared_ptr<Pending>> failed;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_close_reason = why;
        failed.swap(m_pending);
        for (auto& [id, pending] : failed) {
            pending->error =
                BidiError(BidiError::Kind::kDisconnected, "The connection to Firefox closed before it answered " +
                                                              pending->method + ": " + std::string(why));
            pending->done = true;
        }
    }
    for (const auto& [id, pending] : failed)
        pending->finished.notify_all();
}

}  // namespace varne
