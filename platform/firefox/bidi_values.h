#pragma once

#include "page/page_delegate.h"
#include "platform/firefox/bidi_session.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// Between the page model's values and WebDriver BiDi's remote values, arguments and errors.
namespace varne::bidi {

// A string field of a JSON object; empty when it is missing or holds no string.
std::string text_of(const nlohmann::json& object, const char* key);
// The value of a query parameter of an address, %-escapes decoded; empty when it has none.
std::string query_value(const std::string& url, const std::string& name);
// The scheme of an address, in lower case.
std::string scheme_of(const std::string& url);

// An object held in the page: BiDi names it by a handle that only its realm knows, so the page
// model's opaque handle text carries both.
struct ObjectRef {
    std::string realm;
    std::string handle;
};
std::string handle_text(const ObjectRef& object);
// Raises the stale-object error when `text` was not made by handle_text().
ObjectRef object_ref(const std::string& text);

// The value of a script.evaluate or script.callFunction answer, from the realm `realm`. A thrown
// exception raises AutomationError as PageDelegate::evaluate() describes.
page::RemoteValue result_of(const nlohmann::json& answer);
page::RemoteValue remote_value(const nlohmann::json& value, const std::string& realm);
nlohmann::json local_value(const page::CallArgument& argument, const std::string& realm);

// Raises the error of a call into a document that is gone.
[[noreturn]] void throw_stale_object();

// Raises what a failed script task means to the page model: an object of a document that is gone
// (a handle, node, realm or frame that Firefox no longer knows) is the stale-object error; a
// connection lost or no answer cuts the task short; anything else is a refusal.
[[noreturn]] void rethrow_translated(const BidiError& error);

}  // namespace varne::bidi
