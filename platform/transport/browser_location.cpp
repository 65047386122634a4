#include "platform/transport/browser_location.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace varne {

namespace {

constexpr const char* kRemoteUrl = "VARNE_REMOTE_URL";
constexpr const char* kRemoteCapabilities = "VARNE_REMOTE_CAPABILITIES";
constexpr const char* kRemoteHeaders = "VARNE_REMOTE_HEADERS";
constexpr const char* kRemoteQueueTimeout = "VARNE_REMOTE_QUEUE_TIMEOUT";
constexpr long kMaxQueueSeconds = 86400;

std::string in_quotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

nlohmann::json parse_object(std::string_view variable, const char* text)
{
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded())
        throw_unusable_variable(variable, "it is not valid JSON");
    if (!value.is_object())
        throw_unusable_variable(variable, "it must be a JSON object ({...}), not " + std::string(value.type_name()));
    return value;
}

HttpHeaders parse_headers(const char* text)
{
    HttpHeaders headers;
    const nlohmann::json object = parse_object(kRemoteHeaders, text);
    for (const auto& [name, value] : object.items()) {
        if (!value.is_string())
            throw_unusable_variable(kRemoteHeaders, "the value of header " + in_quotes(name) + " must be a string");
        const bool bad_name = name.empty() || std::any_of(name.begin(), name.end(), [](char c) {
                                  return c <= ' ' || c == ':' || static_cast<unsigned char>(c) >= 0x7f;
                              });
        if (bad_name)
            throw_unusable_variable(kRemoteHeaders, in_quotes(name) + " is not a header name");
        const std::string text_value = value.get<std::string>();
        if (text_value.find_first_of("\r\n") != std::string::npos)
            throw_unusable_variable(kRemoteHeaders, "the value of header " + in_quotes(name) + " holds a line break");
        headers.emplace_back(name, text_value);
    }
    return headers;
}

std::chrono::seconds parse_seconds(const char* text)
{
    long seconds = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [stop, error] = std::from_chars(text, end, seconds);
    if (error != std::errc() || stop != end || seconds < 1 || seconds > kMaxQueueSeconds)
        throw_unusable_variable(kRemoteQueueTimeout, in_quotes(text) + " is not a whole number of seconds from 1 to " +
                                                         std::to_string(kMaxQueueSeconds));
    return std::chrono::seconds(seconds);
}

}  // namespace

BrowserLocation browser_location(const EnvironmentLookup& lookup, const AttachVariable& attach)
{
    auto value = [&lookup](const char* name) -> const char* {
        const char* found = lookup(name);
        return found != nullptr && *found != '\0' ? found : nullptr;
    };
    const char* grid = value(kRemoteUrl);
    const char* running = value(attach.name);
    BrowserLocation location;
    if (grid != nullptr && running != nullptr)
        throw_unusable_variable(attach.name,
                                std::string("it is set together with ") + kRemoteUrl + "; set only one of them");
    if (running != nullptr) {
        location.kind = BrowserLocation::Kind::kAttached;
        location.address = parse_web_address(attach.name, running, attach.schemes);
        if (location.address.scheme == "ws" && location.address.path.empty() && !attach.socket_form.empty())
            throw_unusable_variable(attach.name, in_quotes(running) +
                                                     " has no path; the browser's address looks like " +
                                                     std::string(attach.socket_form));
        return location;
    }
    if (grid == nullptr)
        return location;
    location.kind = BrowserLocation::Kind::kGrid;
    location.address = parse_web_address(kRemoteUrl, grid, {"http"});
    location.capabilities = nlohmann::json::object();
    if (const char* capabilities = value(kRemoteCapabilities))
        location.capabilities = parse_object(kRemoteCapabilities, capabilities);
    if (const char* headers = value(kRemoteHeaders))
        location.headers = parse_headers(headers);
    if (const char* seconds = value(kRemoteQueueTimeout))
        location.queue_timeout = parse_seconds(seconds);
    return location;
}

}  // namespace varne
