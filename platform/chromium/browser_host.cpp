#include "platform/chromium/browser_host.h"

#include "platform/chromium/attached_browser.h"
#include "platform/chromium/chromium_process.h"
#include "platform/chromium/grid_browser.h"
#include "platform/transport/browser_location.h"

namespace varne::cdp {

namespace {

BrowserLocation chromium_location(const EnvironmentLookup& environment)
{
    static const AttachVariable running_chromium{
        "VARNE_CDP_URL", {"ws", "http"}, "ws://host:port/devtools/browser/<id>"};
    return browser_location(environment, running_chromium);
}

}  // namespace

std::unique_ptr<BrowserHost> open_browser_host(const EnvironmentLookup& environment, bool headless)
{
    if (auto elsewhere = open_elsewhere<BrowserHost, GridBrowser, AttachedBrowser>(chromium_location(environment)))
        return elsewhere;
    return ChromiumProcess::launch(environment, {.extra_args = {}, .headless = headless});
}

std::string shared_browser_key(const EnvironmentLookup& environment, bool headless)
{
    const BrowserLocation location = chromium_location(environment);
    switch (location.kind) {
    case BrowserLocation::Kind::kGrid:
        return {};
    case BrowserLocation::Kind::kAttached:
        return "attached " + location.address.text();
    case BrowserLocation::Kind::kLocal:
        break;
    }
    const std::string program = variable_or(environment, "VARNE_CHROMIUM", ChromiumProcess::kDefaultExecutable);
    const bool headed = !headless && can_show_browser_window(environment);
    return (headed ? "headed " + std::string(environment("DISPLAY")) + " " : "headless ") + program;
}

bool can_show_browser_window(const EnvironmentLookup& environment)
{
    return variable_set(environment, "DISPLAY");
}

}  // namespace varne::cdp
