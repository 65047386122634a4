#pragma once

#include "page/page_delegate.h"
#include "platform/session/json_session.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varne::cdp {

// One protocol event: its method, its parameters, and the target session it came from ("" = browser).
using ProtocolEvent = SessionEvent;

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

// The browser's protocol over one transport: command ids, replies, events and flattened target
// sessions. The only code of the Chromium engine that reads or writes protocol JSON.
class ProtocolSession final : public JsonSession {
public:
    using Error = ProtocolError;

    explicit ProtocolSession(std::unique_ptr<MessageTransport> transport);
    // Closes the connection and fails every call still waiting.
    ~ProtocolSession() override;

    // Sends `method` to the target session `session_id` ("" = the browser) and waits for its answer.
    // Ends with the result, or raises ProtocolError when the browser answers with an error, when no
    // answer comes within `timeout` (default: default_timeout(); longer while a large answer is still
    // arriving), when the connection is or becomes closed, or when the target crashes or detaches
    // first. Must not be called from a listener.
    nlohmann::json send(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                        std::string_view session_id = {}, std::optional<Timeout> timeout = std::nullopt);

    // Like send(), but also ends, without the answer, at the first event for which `until` holds; the
    // answer that comes later is dropped. For commands that a page-level event can hold up, such as a
    // click that opens a dialog. `until` runs on the reader thread, after the listeners have seen the
    // event, under the session's lock: it must only look at the event.
    CommandOutcome send_until(std::string_view method, nlohmann::json params, std::string_view session_id,
                              EventCondition until, std::optional<Timeout> timeout = std::nullopt);

    // Sends every command to the target session before waiting for any answer; the results come in
    // the commands' order. Raises as send() does, for the first command that failed.
    std::vector<nlohmann::json> send_all(const std::vector<BatchedCommand>& commands, std::string_view session_id = {},
                                         std::optional<Timeout> timeout = std::nullopt);

    // Sends without waiting; the answer is dropped. Safe from listeners. Returns false when the
    // connection is closed or the message could not be written within the default timeout.
    bool post(std::string_view method, nlohmann::json params = nlohmann::json::object(),
              std::string_view session_id = {});

    // Target.attachToTarget with flatten:true. Returns the new session id; raises as send() does.
    std::string attach_to_target(std::string_view target_id, std::optional<Timeout> timeout = std::nullopt);

private:
    void dispatch(nlohmann::json& message) override;
    std::optional<int64_t> unreadable_answer_id(std::string_view text) const override;
    std::exception_ptr failure(CommandFailure kind, std::string description) const override;
    std::exception_ptr refusal(std::string_view method, const nlohmann::json& message) const override;
};

}  // namespace varne::cdp
