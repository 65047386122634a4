#include "platform/firefox/firefox_engine.h"

#include "platform/firefox/windows/wine_firefox.h"

namespace varne::bidi {

// Under Wine each page starts a Firefox of its own on the host, so the pool stays empty.
FirefoxEngine::FirefoxEngine(EnvironmentLookup environment)
    : m_environment(std::move(environment)), m_browsers(std::chrono::milliseconds::zero())
{
}

bool FirefoxEngine::can_show_window() const
{
    // Under Wine the browser's window would be shown on the host's display.
    return running_under_wine() && variable_set(m_environment, "DISPLAY");
}

std::unique_ptr<page::PageDelegate> FirefoxEngine::open_page(page::PageState& state, bool headless)
{
    return std::make_unique<FirefoxPageDelegate>(WineFirefox::launch(m_environment, headless), state);
}

}  // namespace varne::bidi
