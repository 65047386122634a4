#include "platform/chromium/browser_host.h"

#include "frame/automation_error.h"
#include "platform/windows/wine_browser_host.h"

namespace varne {

std::unique_ptr<BrowserHost> open_browser_host(bool headless)
{
    if (running_under_wine())
        return WineBrowserHost::launch(headless);
    throw AutomationError(error_number::kServerUnavailable,
                          "No Chromium-based browser can be started: this build starts one under Wine only");
}

}  // namespace varne
