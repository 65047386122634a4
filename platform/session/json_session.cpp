#include "platform/session/json_session.h"

#include "frame/automation_error.h"
#include "frame/server_locks.h"
#include "platform/transport/lone_surrogates.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>

namespace varne {

namespace {

using Json = nlohmann::json;
using Clock = MessageTransport::Clock;

// Text that the browser sent may hold anything; what goes back out must still be valid UTF-8.
std::string to_text(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Some browsers refuse a command whose parameters are not an object.
std::string command_text(int64_t id, std::string_view method, const Json& params, std::string_view target)
{
    std::string text = R"({"id":)" + std::to_string(id) + R"(,"method":)" + to_text(std::string(method)) +
                       R"(,"params":)" + to_text(params.is_object() ? params : Json::object());
    if (!target.empty())
        text += R"(,"sessionId":)" + to_text(std::string(target));
    text += '}';
    escape_reserved_surrogates(text);
    return text;
}

// Set on the reader thread, so that calls that would wait on it can tell they are made from a listener.
thread_local const JsonSession* t_reading_session = nullptr;

}  // namespace

struct JsonSession::Pending {
    std::string method;
    std::string target;
    EventCondition until;
    Timeout timeout;
    Clock::time_point deadline;

    // Guarded by the session's m_mutex.
    bool done = false;
    CommandOutcome outcome;
    std::exception_ptr error;
    std::condition_variable finished;
};

struct JsonSession::ListenerEntry {
    ListenerId id;
    Listener listener;
    std::atomic<bool> active{true};
};

JsonSession::JsonSession(std::unique_ptr<MessageTransport> transport, std::string peer)
    : m_transport(std::move(transport)), m_peer(std::move(peer))
{
}

JsonSession::~JsonSession()
{
    close();
}

void JsonSession::start_reading()
{
    m_reader = std::thread([this] { read_loop(); });
}

void JsonSession::check_may_wait(std::string_view method) const
{
    if (t_reading_session == this)
        throw AutomationError(error_number::kUnspecified, std::string(method) +
                                                              " cannot wait for its answer inside a " + m_peer +
                                                              " event listener");
}

CommandOutcome JsonSession::call(std::string_view method, Json params, std::string_view target, EventCondition until,
                                 std::optional<Timeout> timeout)
{
    check_may_wait(method);
    return await(start_command(method, params, target, std::move(until), timeout ? *timeout : default_timeout()));
}

std::vector<Json> JsonSession::call_all(const std::vector<BatchedCommand>& commands, std::string_view target,
                                        std::optional<Timeout> timeout)
{
    if (!commands.empty())
        check_may_wait(commands.front().method);
    std::vector<std::shared_ptr<Pending>> sent;
    std::exception_ptr failed;
    for (const auto& command : commands) {
        try {
            sent.push_back(
                start_command(command.method, command.params, target, nullptr, timeout ? *timeout : default_timeout()));
        } catch (...) {
            failed = std::current_exception();
            break;
        }
    }
    // Every command sent is waited for, so that none is left in the table when one fails.
    std::vector<Json> results;
    std::exception_ptr first_failed;
    for (const auto& pending : sent) {
        try {
            results.push_back(std::move(*await(pending).result));
        } catch (...) {
            if (!first_failed)
                first_failed = std::current_exception();
        }
    }
    if (first_failed)
        std::rethrow_exception(first_failed);
    if (failed)
        std::rethrow_exception(failed);
    return results;
}

std::optional<int64_t> JsonSession::leading_id(std::string_view text)
{
    int64_t id = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc())
        return std::nullopt;
    return id;
}

bool JsonSession::post_command(std::string_view method, const Json& params, std::string_view target)
{
    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        id = m_next_id++;
    }
    return m_transport->send(command_text(id, method, params, target), Clock::now() + default_timeout()) ==
           MessageTransport::SendResult::kSent;
}

JsonSession::ListenerId JsonSession::add_listener(Listener listener)
{
    auto entry = std::make_shared<ListenerEntry>();
    entry->listener = std::move(listener);
    std::lock_guard lock(m_listeners_mutex);
    entry->id = m_next_listener++;
    m_listeners.push_back(entry);
    return entry->id;
}

void JsonSession::remove_listener(ListenerId id)
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

JsonSession::Timeout JsonSession::default_timeout() const
{
    std::lock_guard lock(m_mutex);
    return m_default_timeout;
}

void JsonSession::set_default_timeout(Timeout timeout)
{
    std::lock_guard lock(m_mutex);
    m_default_timeout = timeout;
}

void JsonSession::close()
{
    m_transport->close("shut down by this program");
    if (t_reading_session != this)
        std::call_once(m_joined, [this] {
            if (m_reader.joinable())
                m_reader.join();
        });
}

bool JsonSession::closed() const
{
    return m_transport->closed();
}

std::string JsonSession::close_reason() const
{
    return m_transport->close_reason();
}

std::shared_ptr<JsonSession::Pending> JsonSession::start_command(std::string_view method, const Json& params,
                                                                 std::string_view target, EventCondition until,
                                                                 Timeout timeout)
{
    auto pending = std::make_shared<Pending>();
    pending->method = method;
    pending->target = target;
    pending->until = std::move(until);
    pending->timeout = timeout;
    pending->deadline = Clock::now() + timeout;

    const auto closed_text = [&](const std::string& reason) {
        return "Cannot send " + pending->method + ": the connection to " + m_peer + " is closed (" + reason + ")";
    };
    int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            std::rethrow_exception(failure(CommandFailure::kDisconnected, closed_text(m_close_reason)));
        id = m_next_id++;
        m_pending.emplace(id, pending);
    }

    const auto sent = m_transport->send(command_text(id, method, params, target), pending->deadline);
    if (sent != MessageTransport::SendResult::kSent) {
        {
            std::lock_guard lock(m_mutex);
            m_pending.erase(id);
        }
        if (sent == MessageTransport::SendResult::kTimedOut)
            std::rethrow_exception(failure(CommandFailure::kTimedOut, m_peer + " did not take " + pending->method +
                                                                          " within " + std::to_string(timeout.count()) +
                                                                          " ms"));
        std::rethrow_exception(failure(CommandFailure::kDisconnected, closed_text(m_transport->close_reason())));
    }
    return pending;
}

CommandOutcome JsonSession::await(const std::shared_ptr<Pending>& pending)
{
    std::unique_lock lock(m_mutex);
    if (!pending->done && process_ending()) {
        std::erase_if(m_pending, [&](const auto& entry) { return entry.second == pending; });
        lock.unlock();
        std::rethrow_exception(
            failure(CommandFailure::kDisconnected,
                    "The connection to " + m_peer + " ended with this process before it answered " + pending->method));
    }
    auto deadline = pending->deadline;
    std::optional<uint64_t> taken_at_bound;
    while (!pending->finished.wait_until(lock, deadline, [&] { return pending->done; })) {
        const auto now = Clock::now();
        if (!taken_at_bound)
            taken_at_bound = m_messages_taken;
        if (!still_coming(now, *taken_at_bound)) {
            std::erase_if(m_pending, [&](const auto& entry) { return entry.second == pending; });
            lock.unlock();
            std::rethrow_exception(
                failure(CommandFailure::kTimedOut, m_peer + " did not answer " + pending->method + " within " +
                                                       std::to_string(pending->timeout.count()) + " ms"));
        }
        deadline = now + session_bounds::kProgressCheck;
    }
    if (pending->error)
        std::rethrow_exception(pending->error);
    return std::move(pending->outcome);
}

bool JsonSession::still_coming(Clock::time_point now, uint64_t taken_at_bound) const
{
    // The reader taking a message: this answer, or one before it.
    if (m_taking_since && now - *m_taking_since < session_bounds::kStall)
        return true;
    // Bytes arriving, of the message that was coming in when the bound ran out. Once that one has
    // been taken, whatever arrives began after the bound: a peer that floods events while this
    // answer is due has not answered, however busy its connection.
    return m_messages_taken == taken_at_bound && now - m_transport->last_partial_arrival() < session_bounds::kStall;
}

void JsonSession::read_loop()
{
    t_reading_session = this;
    while (auto text = m_transport->receive(Clock::time_point::max())) {
        {
            std::lock_guard lock(m_mutex);
            m_taking_since = Clock::now();
        }
        take(std::move(*text));
        std::lock_guard lock(m_mutex);
        m_taking_since.reset();
        ++m_messages_taken;
    }
    fail_all(m_transport->close_reason());
}

void JsonSession::take(std::string&& text)
{
    reserve_lone_surrogates(text);
    Json message = Json::parse(text, nullptr, false);
    if (message.is_discarded()) {
        // A caller whose answer cannot be read is told so at once rather than when its bound runs out.
        if (const auto id = unreadable_answer_id(text))
            settle(*id, [this](Pending& pending) {
                pending.error =
                    failure(CommandFailure::kRefused, m_peer + "'s answer to " + pending.method + " is not valid JSON");
            });
        return;
    }
    if (message.is_object())
        dispatch(message);
}

void JsonSession::answer(int64_t id, Json result)
{
    settle(id, [&](Pending& pending) { pending.outcome.result = std::move(result); });
}

void JsonSession::refuse(int64_t id, const Json& message)
{
    settle(id, [&](Pending& pending) { pending.error = refusal(pending.method, message); });
}

void JsonSession::settle(int64_t id, const std::function<void(Pending&)>& fill)
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

void JsonSession::deliver(SessionEvent&& event)
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

void JsonSession::fail_target_calls(const std::string& target, std::string_view why)
{
    if (target.empty())
        return;
    std::vector<std::shared_ptr<Pending>> failed;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second->target == target) {
                it->second->error = failure(CommandFailure::kTargetGone, std::string(why) + it->second->method);
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

void JsonSession::fail_all(std::string_view why)
{
    std::map<int64_t, std::shared_ptr<Pending>> failed;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_close_reason = why;
        failed.swap(m_pending);
        for (auto& [id, pending] : failed) {
            pending->error =
                failure(CommandFailure::kDisconnected, "The connection to " + m_peer + " closed before it answered " +
                                                           pending->method + ": " + std::string(why));
            pending->done = true;
        }
    }
    for (const auto& [id, pending] : failed)
        pending->finished.notify_all();
}

}  // namespace varne
