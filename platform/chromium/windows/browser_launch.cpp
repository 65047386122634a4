#include "platform/chromium/browser_host.h"

#include <windows.h>

#include "platform/chromium/windows/windows_browser_host.h"
#include "platform/chromium/windows/wine_browser_host.h"
#include "platform/transport/windows_browser_program.h"

namespace varne::cdp {

std::unique_ptr<BrowserHost> open_browser_host(const EnvironmentLookup& environment, bool headless)
{
    // Under Wine a Windows program (.exe) named by VARNE_CHROMIUM is started as on Windows; any
    // other program is the host's, which only the socket route reaches.
    const auto chosen = chosen_browser();
    if (running_under_wine() && !(chosen && names_windows_program(*chosen)))
        return WineBrowserHost::launch(environment, headless);
    return WindowsBrowserHost::launch(headless);
}

// Each application of the Windows build has a browser of its own: a headed window is found by its
// process, and a shared browser would outlive the script's host, whose exit runs under the loader
// lock, where the pool's threads cannot be joined.
std::string shared_browser_key(const EnvironmentLookup&, bool)
{
    return {};
}

bool can_show_browser_window(const EnvironmentLookup& environment)
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(environment, "DISPLAY");
    return visible_window_station();
}

}  // namespace varne::cdp
