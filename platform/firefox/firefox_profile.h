#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varne::bidi {

// One preference of the fresh profile's user.js.
struct FirefoxPref {
    std::string_view name;
    nlohmann::json value;
};

// What keeps a fresh Firefox off the network by itself and makes it behave as the library expects.
const std::vector<FirefoxPref>& firefox_profile_prefs();
// user.js for a fresh profile: one user_pref line per entry of firefox_profile_prefs().
std::string firefox_user_js();
// The BiDi address that Firefox printed ("WebDriver BiDi listening on ws://127.0.0.1:PORT"), as
// host and port, when `output` holds that line.
std::optional<std::pair<std::string, uint16_t>> bidi_listen_address(std::string_view output);

}  // namespace varne::bidi
