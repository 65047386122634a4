#include "platform/transport/web_address.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace varne {

namespace {

constexpr uint16_t kDefaultPort = 80;

std::string in_quotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Credentials may carry '@', ':' or '/' percent-encoded, as in any URL.
std::string percent_decoded(std::string_view variable, std::string_view text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            throw_unusable_variable(variable,
                                    "the credentials hold a '%' that is not followed by two hexadecimal digits");
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

}  // namespace

[[noreturn]] void throw_unusable_variable(std::string_view variable, std::string_view what)
{
    throw AutomationError(error_number::kInvalidProcedureCall,
                          std::string(variable) + " is not usable: " + std::string(what));
}

std::string WebAddress::origin() const
{
    const bool bracketed = host.find(':') != std::string::npos;
    return scheme + "://" + (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string WebAddress::text() const
{
    return origin() + path;
}

WebAddress parse_web_address(std::string_view variable, std::string_view text,
                             const std::vector<std::string_view>& schemes)
{
    std::string expected;
    for (const auto scheme : schemes)
        expected += (expected.empty() ? "" : " or ") + std::string(scheme) + "://";
    const auto scheme_end = text.find("://");
    if (scheme_end == std::string_view::npos)
        throw_unusable_variable(variable, in_quotes(text) + " is not an address starting with " + expected);
    WebAddress address;
    for (const char c : text.substr(0, scheme_end))
        address.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(schemes.begin(), schemes.end(), address.scheme) == schemes.end())
        throw_unusable_variable(variable, in_quotes(text) + " does not start with " + expected);

    std::string_view rest = text.substr(scheme_end + 3);
    const auto path_start = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, path_start);
    if (path_start != std::string_view::npos) {
        const std::string_view path = rest.substr(path_start);
        if (path.front() != '/')
            throw_unusable_variable(variable, in_quotes(text) + " has a query or fragment but no path");
        address.path = std::string(path.substr(0, path.find('#')));
        while (address.path.size() > 1 && address.path.back() == '/')
            address.path.pop_back();
        if (address.path == "/")
            address.path.clear();
    }
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view credentials = authority.substr(0, at);
        const auto colon = credentials.find(':');
        address.user = percent_decoded(variable, credentials.substr(0, colon));
        if (colon != std::string_view::npos)
            address.password = percent_decoded(variable, credentials.substr(colon + 1));
        authority = authority.substr(at + 1);
    }

    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            throw_unusable_variable(variable, in_quotes(text) + " has an IPv6 address with no closing ']'");
        address.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            throw_unusable_variable(variable, in_quotes(text) + " has text after its IPv6 address");
        if (after.empty())
            address.port = kDefaultPort;
        else
            port_text = after.substr(1);
    } else {
        const auto colon = authority.find(':');
        address.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            port_text = authority.substr(colon + 1);
        else
            address.port = kDefaultPort;
    }
    if (address.host.empty())
        throw_unusable_variable(variable, in_quotes(text) + " names no host");
    if (address.port == 0) {
        unsigned port = 0;
        const auto [stop, error] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
        if (error != std::errc() || stop != port_text.data() + port_text.size() || port == 0 || port > 65535)
            throw_unusable_variable(variable,
                                    in_quotes(text) + " has no port number from 1 to 65535 after the host's ':'");
        address.port = static_cast<uint16_t>(port);
    }
    return address;
}

std::string basic_authorization(std::string_view user, std::string_view password)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string encoded;
    for (size_t i = 0; i < plain.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(plain[i]) << 16;
        if (i + 1 < plain.size())
            group |= static_cast<unsigned char>(plain[i + 1]) << 8;
        if (i + 2 < plain.size())
            group |= static_cast<unsigned char>(plain[i + 2]);
        encoded += kAlphabet[(group >> 18) & 63];
        encoded += kAlphabet[(group >> 12) & 63];
        encoded += i + 1 < plain.size() ? kAlphabet[(group >> 6) & 63] : '=';
        encoded += i + 2 < plain.size() ? kAlphabet[group & 63] : '=';
    }
    return "Basic " + encoded;
}

}  // namespace varne
