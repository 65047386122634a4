#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varne {

// An address given by the user: scheme, optional credentials, host, port and path.
struct WebAddress {
    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    uint16_t port = 0;
    std::string path;  // "" or starting with '/'

    // "scheme://host:port" with no credentials, as error texts name it.
    std::string origin() const;
    // origin() followed by the path.
    std::string text() const;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Parses "scheme://[user:password@]host[:port][/path]" where the scheme is one of `schemes`; the
// port defaults to 80. Raises AutomationError (invalid procedure call) naming `variable`.
WebAddress parse_web_address(std::string_view variable, std::string_view text,
                             const std::vector<std::string_view>& schemes);

// The value of an Authorization header for HTTP Basic authentication.
std::string basic_authorization(std::string_view user, std::string_view password);

// Raises AutomationError (invalid procedure call): the environment variable's value is not usable,
// for the reason `what`.
[[noreturn]] void throw_unusable_variable(std::string_view variable, std::string_view what);

}  // namespace varne
