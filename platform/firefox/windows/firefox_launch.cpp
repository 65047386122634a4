#include "platform/firefox/firefox_elsewhere.h"
#include "platform/firefox/started_firefox.h"
#include "platform/firefox/windows/windows_firefox.h"
#include "platform/firefox/windows/wine_firefox.h"
#include "platform/transport/windows_browser_program.h"

namespace varne::bidi {

namespace {

// Under Wine a Windows program (.exe) named by VARNE_FIREFOX is started as on Windows; any other
// program is the host's, which the shell of the host starts.
bool chosen_windows_program(const EnvironmentLookup& environment)
{
    const auto chosen = chosen_firefox(environment);
    return chosen && names_windows_program(*chosen);
}

}  // namespace

std::unique_ptr<FirefoxHost> open_firefox_elsewhere(const EnvironmentLookup&)
{
    return nullptr;
}

std::unique_ptr<StartedFirefox> start_firefox(const EnvironmentLookup& environment, bool headless)
{
    if (running_under_wine() && !chosen_windows_program(environment))
        return WineFirefox::launch(environment, headless);
    return WindowsFirefox::launch(environment, headless);
}

// A headless Firefox is shared, as nobody sees it and its profile goes with it when this process
// ends: the host's under Wine with its shell's watchdog (see WineFirefox), a Windows program's with
// the watchdog beside its job (see WindowsBrowserProgram). A headed one is a page's own, as a headed
// Chromium is here.
std::string shared_firefox_key(const EnvironmentLookup& environment, bool headless)
{
    if (!headless && can_show_firefox_window(environment))
        return {};
    if (running_under_wine() && !chosen_windows_program(environment))
        return "headless " + variable_or(environment, "VARNE_FIREFOX", WineFirefox::kDefaultExecutable);
    const auto executable = windows_firefox_program(environment);
    return executable ? "headless " + utf8_name(*executable) : std::string();
}

bool can_show_firefox_window(const EnvironmentLookup& environment)
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(environment, "DISPLAY");
    return visible_window_station();
}

}  // namespace varne::bidi
