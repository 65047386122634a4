#pragma once

#include "frame/automation_error.h"
#include "platform/transport/message_transport.h"

#include <nlohmann/json.hpp>

#include <chrono>
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

// One WebDriver BiDi event: its method ("browsingContext.load") and its parameters.
struct BidiEvent {
    std::string method;
    nlohmann::json params;
};

// A command that failed: what Firefox answered (its error code, such as "no such frame", and its
// message), or why no answer can come.
class BidiError : public AutomationError {
public:
    enum class Kind {
        kBrowserError,  // Firefox answered with an error
        kTimedOut,  // no answer within the command's bound
        kDisconnected,  // the connection to Firefox is gone
    };

    BidiError(Kind kind, std::string description, std::string error = {}, std::string message = {});

    Kind kind() const noexcept { return m_kind; }
    // Firefox's error code and message; "" unless kind() is kBrowserError.
    const std::string& error() const noexcept { return m_error; }
    const std::string& message() const noexcept { return m_message; }

private:
    Kind m_kind;
    std::string m_error;
    std::string m_message;
};

// What ended a send_until(): the command's result, or the first event that met the condition.
struct BidiOutcome {
    std::optional<nlohmann::json> result;
    std::optional<BidiEvent> event;
};

// WebDriver BiDi over one transport: command ids, answers of type success or error, and events.
// The only code of the Firefox engine that reads or writes protocol JSON. One reader thread takes
// messages in arrival order, hands answers to the callers waiting for them and events to the
// listeners. Strings in the JSON it takes and gives carry lone surrogates in the form of
// page/page_text.h.
class BidiSession {
public:
    using Timeout = std::chrono::milliseconds;
    using Listener = std::function<void(const BidiEvent&)>;
    using EventCondition = std::function<bool(const BidiEvent&)>;
    using ListenerId = uint64_t;

    static constexpr Timeout kDefaultTimeout{5000};

    explicit BidiSession(std::unique_ptr<MessageTransport> transport);
    // Closes the connection and fails every call still waiting.
    ~BidiSession();

    BidiSession(const BidiSession&) = delete;
    BidiSession& operator=(const BidiSession&) = delete;

    // Sends `method` with `params` (always an object: Firefox refuses a command without one) and
    // waits for its answer. Ends with the result, or raises BidiError when Firefox answers with an
    // error, when no answer comes within `timeout` (default: default_timeout()), or when the
    // connection is or becomes closed. Must not be called from a listener.
    nlohmann::json send(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                        std::optional<Timeout> timeout = std::nullopt);

    // Like send(), but also ends, without the answer, at the first event for which `until` holds; the
    // answer that comes later is dropped. For commands that a page can hold up, such as a click that
    // opens a dialog. `until` runs on the reader thread, after the listeners, under the session's
    // lock: it must only look at the event.
    BidiOutcome send_until(std::string_view method, nlohmann::json params, EventCondition until,
                           std::optional<Timeout> timeout = std::nullopt);

    // Sends without waiting; the answer is dropped. Safe from listeners. Returns false when the
    // connection is closed or the message could not be written within the default timeout.
    bool post(std::string_view method, nlohmann::json params = nlohmann::json::object());

    // Listeners run on the reader thread, in the order events arrived, before any caller waiting on
    // a later message is woken. They must not wait for an answer (use post()).
    ListenerId add_listener(Listener listener);
    // After it returns the listener is not running (unless it is the caller) and never runs again.
    void remove_listener(ListenerId id);

    Timeout default_timeout() const;
    void set_default_timeout(Timeout timeout);

    // Closes the connection; calls still waiting fail at once.
    void close();
    bool closed() const;
    std::string close_reason() const;

private:
    struct Pending;
    struct ListenerEntry;

    std::shared_ptr<Pending> start_command(std::string_view method, const nlohmann::json& params, EventCondition until,
                                           Timeout timeout);
    BidiOutcome await(const std::shared_ptr<Pending>& pending);
    Timeout bound(std::optional<Timeout> timeout) const;
    void check_not_reader_thread(std::string_view method) const;
    void read_loop();
    void dispatch(std::string&& text);
    void fail_unreadable_answer(std::string_view text);
    void settle(int64_t id, const std::function<void(Pending&)>& fill);
    void dispatch_event(BidiEvent&& event);
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
