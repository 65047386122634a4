#include "platform/chromium/protocol_values.h"

#include <charconv>

#include "frame/automation_error.h"
#include "page/page_text.h"

namespace varne::cdp {

using nlohmann::json;

namespace {

double number_from_text(const std::string& text)
{
    double number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

// A script that threw: a security refusal is the permission error scripts know, anything else
// carries the page's own message.
[[noreturn]] void throw_script_error(const json& details)
{
    std::string text =
        details.contains("exception") ? text_of(details["exception"], "description") : text_of(details, "text");
    if (text.empty())
        text = text_of(details, "text");
    // The message without the script's stack, as a description's UTF-8 holds it.
    text = to_utf8(page::page_text(text.substr(0, text.find('\n'))));
    if (text.rfind("SecurityError", 0) == 0)
        throw AutomationError(error_number::kPermissionDenied, "Permission denied: " + text);
    throw AutomationError(error_number::kUnspecified, "The page's script failed: " + text);
}

}  // namespace

std::string text_of(const json& object, const char* key)
{
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

page::RemoteValue remote_value(const json& object)
{
    page::RemoteValue value;
    const std::string type = text_of(object, "type");
    value.subtype = text_of(object, "subtype");
    value.class_name = text_of(object, "className");
    value.description = text_of(object, "description");
    value.handle = text_of(object, "objectId");
    auto raw = object.find("value");
    if (type == "undefined") {
        value.kind = page::RemoteValue::Kind::Undefined;
    } else if (value.subtype == "null" || (type == "object" && raw != object.end() && raw->is_null())) {
        value.kind = page::RemoteValue::Kind::Null;
    } else if (type == "boolean") {
        value.kind = page::RemoteValue::Kind::Boolean;
        value.boolean = raw != object.end() && raw->get<bool>();
    } else if (type == "number") {
        value.kind = page::RemoteValue::Kind::Number;
        if (raw != object.end() && raw->is_number())
            value.number = raw->get<double>();
        else  // NaN, Infinity and -0 come as unserializableValue; read whatever the C locale
            value.number = number_from_text(text_of(object, "unserializableValue"));
    } else if (type == "string") {
        value.kind = page::RemoteValue::Kind::String;
        value.text = raw != object.end() ? raw->get<std::string>() : std::string();
    } else if (type == "function") {
        value.kind = page::RemoteValue::Kind::Function;
    } else if (type == "object") {
        value.kind = page::RemoteValue::Kind::Object;
        if (value.handle.empty() && raw != object.end() && raw->is_array()) {
            value.kind = page::RemoteValue::Kind::StringList;
            for (const auto& item : *raw)
                value.items.push_back(item.is_string() ? std::optional(item.get<std::string>()) : std::nullopt);
        } else if (value.handle.empty()) {
            value.kind = page::RemoteValue::Kind::Other;
            value.text = raw != object.end() ? raw->dump() : value.description;
        }
    } else {
        value.kind = page::RemoteValue::Kind::Other;
        value.text = value.description;
    }
    return value;
}

json call_argument(const page::CallArgument& argument)
{
    switch (argument.kind) {
    case page::CallArgument::Kind::Undefined:
        return json::object();
    case page::CallArgument::Kind::Null:
        return {{"value", nullptr}};
    case page::CallArgument::Kind::Boolean:
        return {{"value", argument.boolean}};
    case page::CallArgument::Kind::Number:
        return {{"value", argument.number}};
    case page::CallArgument::Kind::String:
        return {{"value", argument.text}};
    case page::CallArgument::Kind::Object:
        return {{"objectId", argument.handle}};
    }
    return json::object();
}

[[noreturn]] void rethrow_translated(const ProtocolError& error)
{
    const std::string& message = error.message();
    if (error.kind() == ProtocolError::Kind::kBrowserError &&
        (message.find("Cannot find context") != std::string::npos ||
         message.find("Could not find object") != std::string::npos ||
         message.find("Cannot find default execution context") != std::string::npos ||
         // A call whose document was replaced while it ran.
         message.find("Inspected target navigated or closed") != std::string::npos))
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the page that held it is gone");
    throw error;
}

page::RemoteValue result_of(const json& answer)
{
    if (answer.contains("exceptionDetails"))
        throw_script_error(answer["exceptionDetails"]);
    return remote_value(answer.value("result", json::object()));
}

}  // namespace varne::cdp
