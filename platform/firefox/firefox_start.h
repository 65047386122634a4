#pragma once

#include "frame/automation_error.h"
#include "platform/firefox/bidi_session.h"
#include "platform/transport/web_address.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace varne::bidi {

// The parameters of session.new for every session the library opens: dialogs stay open for the
// library to answer.
nlohmann::json new_session_params();

// Connects `session` to the BiDi server that a Firefox just started printed at `server`, and opens
// a session there, waiting up to `session_timeout` for session.new (Firefox answers it once its
// start-up tasks have run). Returns the answer: the session id and the capabilities that Firefox
// granted. Raises the error that `failure` makes of what went wrong: "could not be reached at ...",
// "did not answer session.new within ...", for a connection lost then what `exit_text` tells of
// Firefox's end when it has ended, or "refused a new session: ...".
nlohmann::json open_started_session(std::unique_ptr<BidiSession>& session, const WebAddress& server,
                                    std::chrono::milliseconds session_timeout,
                                    const std::function<AutomationError(const std::string&)>& failure,
                                    const std::function<std::optional<std::string>()>& exit_text);

// Asks the Firefox that `session` drives to close, when the session is open, and closes the
// connection. Never raises: a Firefox that is gone or stuck is for its host to end.
void ask_to_close(BidiSession* session) noexcept;

// What a starting Firefox has written into a file so far; empty when it has written nothing there.
std::string file_text(const std::filesystem::path& path);

}  // namespace varne::bidi
