#pragma once

#include "frame/automation_error.h"
#include "platform/session/json_session.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace varne::bidi {

// One WebDriver BiDi event: its method ("browsingContext.load") and its parameters.
using BidiEvent = SessionEvent;
// What ended a send_until(): the command's result, or the first event that met the condition.
using BidiOutcome = CommandOutcome;

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

// WebDriver BiDi over one transport: command ids, answers of type success or error, and events.
// The only code of the Firefox engine that reads or writes protocol JSON.
class BidiSession final : public JsonSession {
public:
    using Error = BidiError;

    explicit BidiSession(std::unique_ptr<MessageTransport> transport);
    // Closes the connection and fails every call still waiting.
    ~BidiSession() override;

    // Sends `method` with `params` (always an object: Firefox refuses a command without one) and
    // waits for its answer. Ends with the result, or raises BidiError when Firefox answers with an
    // error, when no answer comes within `timeout` (default: default_timeout(); longer while a large
    // answer is still arriving), or when the connection is or becomes closed. Must not be called
    // from a listener.
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

private:
    void dispatch(nlohmann::json& message) override;
    std::optional<int64_t> unreadable_answer_id(std::string_view text) const override;
    std::exception_ptr failure(CommandFailure kind, std::string description) const override;
    std::exception_ptr refusal(std::string_view method, const nlohmann::json& message) const override;
};

}  // namespace varne::bidi
