#include "platform/chromium/browser_host.h"

#include "frame/automation_error.h"

namespace varne {

std::unique_ptr<BrowserHost> open_browser_host(bool)
{
    throw AutomationError(error_number::kServerUnavailable, "No browser can be started from this build yet");
}

}  // namespace varne
