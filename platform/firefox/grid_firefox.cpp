#include "platform/firefox/grid_firefox.h"

#include "platform/firefox/firefox_profile.h"

namespace varne::bidi {

using Json = nlohmann::json;

Json grid_firefox_capabilities(const Json& wanted)
{
    Json prefs = Json::object();
    for (const auto& pref : firefox_profile_prefs())
        prefs[std::string(pref.name)] = pref.value;
    Json capabilities{{"browserName", "firefox"}, {"moz:firefoxOptions", {{"prefs", prefs}}}};
    capabilities.merge_patch(wanted);
    capabilities["webSocketUrl"] = true;
    // The library answers dialogs itself; with any other setting the driver would answer them first.
    capabilities["unhandledPromptBehavior"] = "ignore";
    return capabilities;
}

std::unique_ptr<GridFirefox> GridFirefox::open(const BrowserLocation& location)
{
    std::unique_ptr<GridFirefox> browser(new GridFirefox(GridSession::create(
        location.address, location.headers, grid_firefox_capabilities(location.capabilities), location.queue_timeout)));
    browser->m_link.connect("webSocketUrl", "WebDriver BiDi address (webSocketUrl)",
                            [](BidiSession& session, std::chrono::milliseconds timeout) {
                                session.send("session.status", Json::object(), timeout);
                            });
    return browser;
}

}  // namespace varne::bidi
