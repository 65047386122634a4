#include "platform/chromium/browser_host.h"

#include "platform/chromium/attached_browser.h"
#include "platform/chromium/chromium_process.h"
#include "platform/chromium/grid_browser.h"
#include "platform/transport/browser_location.h"

#include <cstdlib>

namespace varne {

namespace {

BrowserLocation chromium_location()
{
    static const AttachVariable running_chromium{
        "VARNE_CDP_URL", {"ws", "http"}, "ws://host:port/devtools/browser/<id>"};
    return browser_location([](const char* name) { return std::getenv(name); }, running_chromium);
}

}  // namespace

std::unique_ptr<BrowserHost> open_browser_host(bool headless)
{
    if (auto elsewhere = open_elsewhere<BrowserHost, GridBrowser, AttachedBrowser>(chromium_location()))
        return elsewhere;
    return ChromiumProcess::launch({.extra_args = {}, .headless = headless});
}

std::string shared_browser_key(bool headless)
{
    const BrowserLocation location = chromium_location();
    switch (location.kind) {
    case BrowserLocation::Kind::kGrid:
        return {};
    case BrowserLocation::Kind::kAttached:
        return "attached " + location.address.text();
    case BrowserLocation::Kind::kLocal:
        break;
    }
    const char* chosen = std::getenv("VARNE_CHROMIUM");
    const std::string program = chosen != nullptr && *chosen != '\0' ? chosen : ChromiumProcess::kDefaultExecutable;
    const bool headed = !headless && can_show_browser_window();
    return (headed ? "headed " + std::string(std::getenv("DISPLAY")) + " " : "headless ") + program;
}

bool can_show_browser_window()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

}  // namespace varne
