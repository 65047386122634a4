#pragma once

#include "platform/session/session_bounds.h"
#include "platform/transport/message_transport.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace varne {

// One event of a browser protocol: its method, its parameters, and the target session it came
// from ("" = the browser, and always "" in a protocol without target sessions).
struct SessionEvent {
    std::string method;
    nlohmann::json params;
    std::string session_id;
};

// What ended a command that may also end at an event: its result, or the first event that met the
// condition.
struct CommandOutcome {
    std::optional<nlohmann::json> result;
    std::optional<SessionEvent> event;
};

// One command of several sent together: its method and parameters.
struct BatchedCommand {
    std::string method;
    nlohmann::json params = nlohmann::json::object();
};

// Why a command has no result, for the engine's own error type.
enum class CommandFailure {
    kRefused,  // the browser answered with an error, or with text that is no JSON
    kTimedOut,  // no answer within the command's bound
    kDisconnected,  // the connection to the browser is gone
    kTargetGone,  // the target session crashed or was detached before answering
};

// The common part of a JSON browser protocol over one transport: command ids, the table of
// commands waiting for their answers, the reader thread, the listeners and the bounded waits. One
// reader thread takes messages in arrival order, hands answers to the callers waiting for them and
// events to the listeners. An engine's session derives from it and says how its messages read.
// Strings in the JSON it takes and gives carry lone surrogates in the form of page/page_text.h.
class JsonSession {
public:
    using Timeout = std::chrono::milliseconds;
    using Listener = std::function<void(const SessionEvent&)>;
    using EventCondition = std::function<bool(const SessionEvent&)>;
    using ListenerId = uint64_t;

    static constexpr Timeout kDefaultTimeout = session_bounds::kCommand;

    JsonSession(const JsonSession&) = delete;
    JsonSession& operator=(const JsonSession&) = delete;

    // Listeners run on the reader thread, in the order events arrived, before any caller waiting on
    // a later message is woken. They must not wait for an answer (use post()).
    ListenerId add_listener(Listener listener);
    // After it returns the listener is not running (unless it is the caller) and never runs again.
    void remove_listener(ListenerId id);

    Timeout default_timeout() const;
    void set_default_timeout(Timeout timeout);

    // Closes the connection: the browser sees it end, calls still waiting fail at once.
    void close();
    bool closed() const;
    // Why the connection closed, as the transport reported it.
    std::string close_reason() const;

protected:
    // `peer` names the browser in error texts.
    JsonSession(std::unique_ptr<MessageTransport> transport, std::string peer);
    // The engine's destructor calls close() first: the reader thread calls the hooks below.
    virtual ~JsonSession();

    // Starts the reader thread: the last step of the engine's constructor, once the hooks can run.
    void start_reading();

    // Sends `method` to `target` ("" = the browser) and waits for its answer, or (with `until`) for
    // the first event for which `until` holds, whichever comes first; an answer that comes later is
    // dropped. The wait ends after `timeout` (default: default_timeout()) unless part of a message
    // is still arriving: a large answer is slow, not lost. Raises the engine's error for a refusal,
    // a wait that ran out, a connection that is or becomes closed, or a target that went first.
    // `until` runs on the reader thread, after the listeners, under the session's lock: it must only
    // look at the event. Must not be called from a listener.
    CommandOutcome call(std::string_view method, nlohmann::json params, std::string_view target, EventCondition until,
                        std::optional<Timeout> timeout);
    // Sends every command to `target` before waiting for any answer, then waits for all of them: a
    // browser that takes a target's commands in turn answers them in about one round trip rather than
    // one each. The results come in the commands' order. Raises as call() does, with the failure of
    // the first command that failed, once no answer is waited for any more.
    std::vector<nlohmann::json> call_all(const std::vector<BatchedCommand>& commands, std::string_view target,
                                         std::optional<Timeout> timeout);
    // Sends without waiting; the answer is dropped. Safe from listeners. False when the connection is
    // closed or the message could not be written within the default timeout.
    bool post_command(std::string_view method, const nlohmann::json& params, std::string_view target);

    // Reads one message that parsed as a JSON object: hands it to answer(), refuse() or deliver().
    virtual void dispatch(nlohmann::json& message) = 0;
    // The id at the start of an answer that is no valid JSON, when it has one.
    virtual std::optional<int64_t> unreadable_answer_id(std::string_view text) const = 0;
    // The number whose digits start `text`, as such an id is read.
    static std::optional<int64_t> leading_id(std::string_view text);
    // The engine's error for a command that failed, to be raised in its caller's thread.
    virtual std::exception_ptr failure(CommandFailure kind, std::string description) const = 0;
    // The engine's error for `method`, refused with the answer `message`.
    virtual std::exception_ptr refusal(std::string_view method, const nlohmann::json& message) const = 0;

    void answer(int64_t id, nlohmann::json result);
    void refuse(int64_t id, const nlohmann::json& message);
    void deliver(SessionEvent&& event);
    // Fails every call to `target` at once, with `why` followed by its method.
    void fail_target_calls(const std::string& target, std::string_view why);

    const std::string& peer() const { return m_peer; }

private:
    struct Pending;
    struct ListenerEntry;

    // Raises unless called off the reader thread, where a wait for an answer could never end.
    void check_may_wait(std::string_view method) const;
    std::shared_ptr<Pending> start_command(std::string_view method, const nlohmann::json& params,
                                           std::string_view target, EventCondition until, Timeout timeout);
    CommandOutcome await(const std::shared_ptr<Pending>& pending);
    // Whether a wait that reached its deadline should go on: the reader was still busy with a message,
    // or bytes of the message that was arriving at the deadline still came, within the stall bound.
    // Called under the lock, with the count of messages taken when the deadline passed.
    bool still_coming(MessageTransport::Clock::time_point now, uint64_t taken_at_bound) const;
    void read_loop();
    void take(std::string&& text);
    // Takes the call waiting for answer `id` out of the table, lets `fill` give it its result or error
    // under the lock, then wakes its caller. A call that has already given up is no longer there.
    void settle(int64_t id, const std::function<void(Pending&)>& fill);
    void fail_all(std::string_view why);

    std::unique_ptr<MessageTransport> m_transport;
    const std::string m_peer;

    // Guards the command counter, the pending calls, the closed state, the default timeout, the
    // time the reader took its current message and the count of messages taken.
    mutable std::mutex m_mutex;
    int64_t m_next_id = 1;
    std::map<int64_t, std::shared_ptr<Pending>> m_pending;
    bool m_closed = false;
    std::string m_close_reason;
    Timeout m_default_timeout = kDefaultTimeout;
    std::optional<MessageTransport::Clock::time_point> m_taking_since;
    uint64_t m_messages_taken = 0;

    // Held by the reader while listeners run, so that remove_listener() can wait for them.
    std::mutex m_dispatch_mutex;
    std::mutex m_listeners_mutex;
    ListenerId m_next_listener = 1;
    std::vector<std::shared_ptr<ListenerEntry>> m_listeners;

    std::once_flag m_joined;
    std::thread m_reader;
};

}  // namespace varne
