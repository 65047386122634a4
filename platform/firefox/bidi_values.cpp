#include "platform/firefox/bidi_values.h"

#include "frame/automation_error.h"
#include "frame/text.h"
#include "page/page_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace varne::bidi {

using Json = nlohmann::json;

namespace {

constexpr const char* kStaleObject =
    "The object invoked has disconnected from its clients: the page that held it is gone";

// BiDi writes the numbers that JSON lacks as text.
double number_of(const Json& value)
{
    if (value.is_number())
        return value.get<double>();
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    if (text == "Infinity")
        return std::numeric_limits<double>::infinity();
    if (text == "-Infinity")
        return -std::numeric_limits<double>::infinity();
    if (text == "-0")
        return -0.0;
    return std::numeric_limits<double>::quiet_NaN();
}

Json number_value(double number)
{
    if (std::isnan(number))
        return "NaN";
    if (std::isinf(number))
        return number > 0 ? "Infinity" : "-Infinity";
    if (number == 0 && std::signbit(number))
        return "-0";
    return number;
}

// The DOM class the page model tells documents and collections by; BiDi names only the kind.
std::string class_name(const std::string& type, const Json& value)
{
    if (type == "node")
        return value.is_object() && value.value("nodeType", 0) == 9 ? "HTMLDocument" : std::string();
    if (type == "htmlcollection")
        return "HTMLCollection";
    if (type == "nodelist")
        return "NodeList";
    if (type == "window")
        return "Window";
    if (type == "array")
        return "Array";
    return "Object";
}

// A script that threw: a security refusal is the permission error scripts know, anything else
// carries the page's own message.
[[noreturn]] void throw_script_error(const Json& details)
{
    std::string text = text_of(details, "text");
    text = to_utf8(page::page_text(text.substr(0, text.find('\n'))));
    if (text.starts_with("SecurityError"))
        throw AutomationError(error_number::kPermissionDenied, "Permission denied: " + text);
    throw AutomationError(error_number::kUnspecified, "The page's script failed: " + text);
}

}  // namespace

std::string text_of(const Json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string scheme_of(const std::string& url)
{
    std::string scheme = url.substr(0, url.find(':'));
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

std::string query_value(const std::string& url, const std::string& name)
{
    const auto query = url.find('?');
    if (query == std::string::npos)
        return {};
    for (size_t at = query + 1; at < url.size();) {
        const auto end = std::min(url.find('&', at), url.size());
        const std::string pair = url.substr(at, end - at);
        if (pair.starts_with(name + "=")) {
            std::string value;
            const std::string encoded = pair.substr(name.size() + 1);
            for (size_t i = 0; i < encoded.size(); ++i) {
                if (encoded[i] == '%' && i + 2 < encoded.size() &&
                    std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) &&
                    std::isxdigit(static_cast<unsigned char>(encoded[i + 2]))) {
                    value.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
                    i += 2;
                } else {
                    value.push_back(encoded[i]);
                }
            }
            return value;
        }
        at = end + 1;
    }
    return {};
}

std::string handle_text(const ObjectRef& object)
{
    return object.realm + ' ' + object.handle;
}

void throw_stale_object()
{
    throw AutomationError(error_number::kObjectDisconnected, kStaleObject);
}

ObjectRef object_ref(const std::string& text)
{
    const auto space = text.find(' ');
    if (space == std::string::npos)
        throw_stale_object();
    return {text.substr(0, space), text.substr(space + 1)};
}

page::RemoteValue result_of(const Json& answer)
{
    if (text_of(answer, "type") == "exception")
        throw_script_error(answer.value("exceptionDetails", Json::object()));
    return remote_value(answer.value("result", Json::object()), text_of(answer, "realm"));
}

page::RemoteValue remote_value(const Json& value, const std::string& realm)
{
    using Kind = page::RemoteValue::Kind;
    page::RemoteValue result;
    const std::string type = text_of(value, "type");
    const Json inner = value.value("value", Json());
    if (type == "undefined") {
        result.kind = Kind::Undefined;
    } else if (type == "null") {
        result.kind = Kind::Null;
        result.subtype = "null";
    } else if (type == "boolean") {
        result.kind = Kind::Boolean;
        result.boolean = inner.is_boolean() && inner.get<bool>();
    } else if (type == "number") {
        result.kind = Kind::Number;
        result.number = number_of(inner);
    } else if (type == "string") {
        result.kind = Kind::String;
        result.text = inner.is_string() ? inner.get<std::string>() : std::string();
    } else if (const std::string handle = text_of(value, "handle"); !handle.empty()) {
        result.kind = type == "function" ? Kind::Function : Kind::Object;
        result.handle = handle_text({realm, handle});
        result.class_name = class_name(type, inner);
        if (type == "node" || type == "array")
            result.subtype = type;
    } else if (type == "array" && inner.is_array()) {
        result.kind = Kind::StringList;
        for (const auto& item : inner) {
            if (text_of(item, "type") == "string")
                result.items.emplace_back(text_of(item, "value"));
            else
                result.items.emplace_back(std::nullopt);
        }
    } else {
        result.kind = Kind::Other;
        result.text = type;
    }
    return result;
}

Json local_value(const page::CallArgument& argument, const std::string& realm)
{
    using Kind = page::CallArgument::Kind;
    switch (argument.kind) {
    case Kind::Undefined:
        return {{"type", "undefined"}};
    case Kind::Null:
        return {{"type", "null"}};
    case Kind::Boolean:
        return {{"type", "boolean"}, {"value", argument.boolean}};
    case Kind::Number:
        return {{"type", "number"}, {"value", number_value(argument.number)}};
    case Kind::String:
        return {{"type", "string"}, {"value", argument.text}};
    case Kind::Object: {
        const ObjectRef object = object_ref(argument.handle);
        // A handle is known only in the realm that made it.
        if (object.realm != realm)
            throw_stale_object();
        return {{"handle", object.handle}};
    }
    }
    return {{"type", "undefined"}};
}

[[noreturn]] void rethrow_translated(const BidiError& error)
{
    if (error.kind() != BidiError::Kind::kBrowserError)
        throw page::TaskError(error.number(), error.description(), true);
    const std::string& code = error.error();
    // A crashed tab is a parent-process page until a navigation restores it; its objects are gone,
    // and a frame of it that was being read has lost its realm.
    if (code == "no such handle" || code == "no such node" || code == "no such frame" ||
        (code == "unsupported operation" && error.message().find("parent process") != std::string::npos) ||
        (code == "invalid argument" && error.message().find("realm") != std::string::npos) ||
        (code == "unknown error" && error.message().find("realm is null") != std::string::npos))
        throw_stale_object();
    throw page::TaskError(error.number(), error.description(), false);
}

}  // namespace varne::bidi
