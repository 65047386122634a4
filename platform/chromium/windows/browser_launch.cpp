#include "platform/chromium/browser_host.h"

#include <windows.h>

#include "platform/chromium/windows/windows_browser_host.h"
#include "platform/chromium/windows/wine_browser_host.h"
#include "platform/transport/windows_browser_program.h"

namespace varne::cdp {

namespace {

// Under Wine a Windows program (.exe) named by VARNE_CHROMIUM is started as on Windows; any other
// program is the host's, which only the socket route reaches.
bool chosen_windows_program()
{
    const auto chosen = chosen_browser();
    return chosen && names_windows_program(*chosen);
}

}  // namespace

std::unique_ptr<BrowserHost> open_browser_host(const EnvironmentLookup& environment, bool headless)
{
    if (running_under_wine() && !chosen_windows_program())
        return WineBrowserHost::launch(environment, headless);
    return WindowsBrowserHost::launch(headless);
}

// A headless browser is shared, as nobody sees it and its profile goes with it when this process
// ends: the host's Chromium under Wine with its shell's watchdog (see WineBrowserHost), a Windows
// program with the watchdog beside its job (see WindowsBrowserProgram). A headed window is found
// by its process, so each headed application has a browser of its own.
std::string shared_browser_key(const EnvironmentLookup& environment, bool headless)
{
    if (!headless && can_show_browser_window(environment))
        return {};
    if (running_under_wine() && !chosen_windows_program())
        return "headless " + variable_or(environment, "VARNE_CHROMIUM", WineBrowserHost::kDefaultExecutable);
    const auto executable = windows_browser_program();
    return executable ? "headless " + utf8_name(*executable) : std::string();
}

bool can_show_browser_window(const EnvironmentLookup& environment)
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(environment, "DISPLAY");
    return visible_window_station();
}

}  // namespace varne::cdp
