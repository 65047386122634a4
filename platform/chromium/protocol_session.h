#pragma once

#include "page/page_delegate.h"
#include "platform/transport/message_transport.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// One protocol event: its method, its parameters, and the target session it came from ("" = browser).
struct ProtocolEvent {
    std::string method;
    nlohmann::json params;
    std::string session_id;
};

// A command that failed: what the browser answered (code and message), or why no answer can come.
// Every kind but kBrowserError cuts the page model's task short.
class ProtocolError : public page::TaskError {
public:
    enum class Kind {
        kBrowserError,  // the browser answered with an error
        kTimedOut,  // no answer within the command's bound
        kDisconnected,  // the connection to the browser is gone
        kTargetGone,  // the target session crashed or was detached before answering
    };

    ProtocolError(Kind kind, int32_t number, std::string description, int64_t code = 0, std::string message = {});

    Kind kind() const noexcept { return m_kind; }
    // The browser's error code and message; 0 and "" unless kind() is kBrowserError.
    int64_t code() const noexcept { return m_code; }
    const std::string& message() const noexcept { return m_message; }

private:
    Kind m_kind;
    int64_t m_code;
    std::string m_message;
};

// What ended a send_until(): the command's result, or the first event that met the condition.
struct CommandOutcome {
    std::optional<nlohmann::json> result;
    std::optional<ProtocolEvent> event;
};

// The browser's protocol over one transport: command ids, replies, events and flattened target
// sessions. The only code that reads or writes protocol JSON. One reader thread takes messages in
// arrival order, hands answers to the callers waiting for them and events to the listeners.
// Strings in the JSON it takes and gives carry lone surrogates in the form of page_text.h.
class ProtocolSession {
public:
    using Timeout = std::chrono::milliseconds;
    using Listener = std::function<void(const ProtocolEvent&)>;
    using EventCondition = std::function<bool(const ProtocolEvent&)>;
    using ListenerId = uint64_t;

    static constexpr Timeout kDefaultTimeout{5000};

    explicit ProtocolSession(std::unique_ptr<MessageTransport> transport);
    // Closes the connection and fails every call still waiting.
    ~ProtocolSession();

    ProtocolSession(const ProtocolSession&) = delete;
    ProtocolSession& operator=(const ProtocolSession&) = delete;

    // Sends `method` to the target session `session_id` ("" = the browser) and waits for its answer.
    // Ends with the result, or raises ProtocolError when the browser answers with an error, when no
    // answer comes within `timeout` (default: default_timeout()), when the connection is or becomes
    // closed, or when the target crashes or detaches first. Must not be called from a listener.
    nlohmann::json send(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                        std::string_view session_id = {}, std::optional<Timeout> timeout = std::nullopt);

    // Like send(), but also ends, without the answer, at the first event for which `until` holds; the
    // answer that comes later is dropped. For commands that a page-level event can hold up, such as a
    // click that opens a dialog. `until` runs on the reader thread, after the listeners have seen the
    // event, under the session's lock: it must only look at the event.
    CommandOutcome send_until(std::string_view method, nlohmann::json params, std::string_view session_id,
                              EventCondition until, std::optional<Timeout> timeout = std::nullopt);

    // Sends without waiting; the answer is dropped. Safe from listeners. Returns false when the
    // connection is closed or the message could not be written within the default timeout.
    bool post(std::string_view method, nlohmann::json params = nlohmann::json::object(),
              std::string_view session_id = {});

    // Target.attachToTarget with flatten:true. Returns the new session id; raises as send() does.
    std::string attach_to_target(std::string_view target_id, std::optional<Timeout> timeout = std::nullopt);

    // Listeners run on the reader thread, in the order events arrived, before any caller waiting on
    // a later message is woken. They must not block on a command answer (use post()).
    ListenerId add_listener(Listener listener);
    // After it returns the listener is not running (unless it is the caller) and never runs again.
    void remove_listener(ListenerId id);

    Timeout default_timeout() const;
    void set_default_timeout(Timeout timeout);

    // Closes the connection: the browser sees the end of its pipe, calls still waiting fail at once.
    void close();
    bool closed() const;
    // Why the connection closed, as the transport reported it.
    std::string close_reason() const;

private:
    struct Pending;
    struct ListenerEntry;

    std::shared_ptr<Pending> start_command(std::string_view method, nlohmann::json params, std::string_view session_id,
                                           EventCondition until, Timeout timeout);
    CommandOutcome await(const std::shared_ptr<Pending>& pending);
    Timeout bound(std::optional<Timeout> timeout) const;
    void check_not_reader_thread(std::string_view method) const;
    void read_loop();
    void dispatch(std::string&& text);
    void fail_unreadable_answer(std::string_view text);
    void dispatch_answer(int64_t id, nlohmann::json& message);
    // Takes the call waiting for answer `id` out of the table, lets `fill` give it its result or error
    // under the lock, then wakes its caller. A call that has already given up is no longer there.
    void settle(int64_t id, const std::function<void(Pending&)>& fill);
    void dispatch_event(ProtocolEvent&& event);
    void fail_session_calls(const std::string& session_id, std::string_view why);
    void fail_all(std::string_view why);

    std::unique_ptr<MessageTransport> m_transport;

    // Guards the command counter, the pending calls, the closed state and the default timeout.
    mutable std::mutex m_mutex;
    int64_t m_next_id = 1;
    std::map<int64_t, std::shared_ptr<Pending>> m_pending;
    bool m_closed = false;
    std::string m_close_reason;
    Timeout m_default_timeout = kDefaultTimeout;

    // Held by the reader while listeners run, so that remove_listener() can wait for them.
    std::mutex m_dispatch_mutex;
    std::mutex m_listeners_mutex;
    ListenerId m_next_listener = 1;
    std::vector<std::shared_ptr<ListenerEntry>> m_listeners;

    std::once_flag m_joined;
    // Started last, once everything it reads exists.
    std::thread m_reader;
};

}  // namespace varne
