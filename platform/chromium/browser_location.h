#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
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

// Where the browsers of this process run, as the environment says when a Browser is created.
struct BrowserLocation {
    enum class Kind { kLocal, kGrid, kAttached };

    // How long creation waits in a Grid's queue for a free slot, unless VARNE_REMOTE_QUEUE_TIMEOUT says otherwise.
    static constexpr std::chrono::seconds kDefaultQueueTimeout{300};

    Kind kind = Kind::kLocal;
    // The Grid (http) or the running Chromium (http or ws).
    WebAddress address;
    // Grid only: the capabilities asked for, the headers of every request, the queue bound.
    nlohmann::json capabilities;
    HttpHeaders headers;
    std::chrono::seconds queue_timeout = kDefaultQueueTimeout;
};

using EnvironmentLookup = std::function<const char*(const char* name)>;

// Reads VARNE_REMOTE_URL, VARNE_REMOTE_CAPABILITIES, VARNE_REMOTE_HEADERS, VARNE_REMOTE_QUEUE_TIMEOUT
// and VARNE_CDP_URL through `lookup` (empty counts as unset). Raises AutomationError (invalid
// procedure call) naming the variable and what is wrong with its value.
BrowserLocation browser_location(const EnvironmentLookup& lookup);

// Parses "scheme://[user:password@]host[:port][/path]" where the scheme is one of `schemes`; the
// port defaults to 80. Raises AutomationError (invalid procedure call) naming `variable`.
WebAddress parse_web_address(std::string_view variable, std::string_view text,
                             const std::vector<std::string_view>& schemes);

// The value of an Authorization header for HTTP Basic authentication.
std::string basic_authorization(std::string_view user, std::string_view password);

}  // namespace varne
