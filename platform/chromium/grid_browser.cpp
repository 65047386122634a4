#include "platform/chromium/grid_browser.h"

namespace varne::cdp {

namespace {

// The capabilities of a Chromium: the user's own over a Chrome.
nlohmann::json chromium_capabilities(const nlohmann::json& wanted)
{
    nlohmann::json capabilities = {{"browserName", "chrome"}};
    capabilities.merge_patch(wanted);
    // The library answers dialogs itself; with any other setting the driver would answer them first.
    capabilities["unhandledPromptBehavior"] = "ignore";
    return capabilities;
}

}  // namespace

std::unique_ptr<GridBrowser> GridBrowser::open(const BrowserLocation& location)
{
    std::unique_ptr<GridBrowser> browser(new GridBrowser(GridSession::create(
        location.address, location.headers, chromium_capabilities(location.capabilities), location.queue_timeout)));
    browser->m_link.connect("se:cdp", "DevTools address (se:cdp); the library drives Chromium-based browsers only",
                            [](ProtocolSession& session, std::chrono::milliseconds timeout) {
                                session.send("Browser.getVersion", nlohmann::json::object(), {}, timeout);
                            });
    return browser;
}

}  // namespace varne::cdp
