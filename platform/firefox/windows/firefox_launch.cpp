#include "platform/firefox/firefox_engine.h"

#include "platform/firefox/windows/windows_firefox.h"
#include "platform/firefox/windows/wine_firefox.h"
#include "platform/transport/windows_browser_program.h"

namespace varne::bidi {

// Each page starts a Firefox of its own, so the pool stays empty.
FirefoxEngine::FirefoxEngine(EnvironmentLookup environment)
    : m_environment(std::move(environment)), m_browsers(std::chrono::milliseconds::zero())
{
}

bool FirefoxEngine::can_show_window() const
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(m_environment, "DISPLAY");
    return visible_window_station();
}

std::unique_ptr<page::PageDelegate> FirefoxEngine::open_page(page::PageState& state, bool headless)
{
    // Under Wine a Windows program (.exe) named by VARNE_FIREFOX is started as on Windows; any
    // other program is the host's, which the shell of the host starts.
    const auto chosen = chosen_firefox(m_environment);
    if (running_under_wine() && !(chosen && names_windows_program(*chosen)))
        return std::make_unique<FirefoxPageDelegate>(WineFirefox::launch(m_environment, headless), state);
    return std::make_unique<FirefoxPageDelegate>(WindowsFirefox::launch(m_environment, headless), state);
}

}  // namespace varne::bidi
