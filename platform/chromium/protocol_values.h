#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "page/page_delegate.h"
#include "platform/chromium/protocol_session.h"

// The protocol's Runtime values and errors as the page model's types.
namespace varne::cdp {

// The string member `key` of a JSON object; "" when there is none.
std::string text_of(const nlohmann::json& object, const char* key);

// A Runtime.RemoteObject.
page::RemoteValue remote_value(const nlohmann::json& object);
// A Runtime.CallArgument.
nlohmann::json call_argument(const page::CallArgument& argument);

// The result of Runtime.evaluate or Runtime.callFunctionOn; raises AutomationError when the script
// threw: a security refusal as the permission error scripts know, anything else with the page's message.
page::RemoteValue result_of(const nlohmann::json& answer);

// Handles of a document that the page has left behind fail as a stale object; any other error is
// raised as it is.
[[noreturn]] void rethrow_translated(const ProtocolError& error);

}  // namespace varne::cdp
