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

// Only the host's Firefox under Wine is shared, and only while nobody sees it: its watchdog ends
// it, and removes its profile, once this process has gone. A headed one is a page's own, as a
// headed Chromium is here; so is a Windows program's, whose profile would stay behind a Firefox
// kept for a next page when this process ends.
std::string shared_firefox_key(const EnvironmentLookup& environment, bool headless)
{
    const bool headed = !headless && can_show_firefox_window(environment);
    if (headed || !running_under_wine() || chosen_windows_program(environment))
        return {};
    return "headless " + variable_or(environment, "VARNE_FIREFOX", WineFirefox::kDefaultExecutable);
}

bool can_show_firefox_window(const EnvironmentLookup& environment)
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(environment, "DISPLAY");
    return visible_window_station();
}

}  // namespace varne::bidi
