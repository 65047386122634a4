#pragma once

#include "page/browser_pool.h"
#include "page/page_delegate.h"
#include "platform/environment.h"

#include <memory>
#include <string>

namespace varne::bidi {

// Firefox as an engine of the page model: pages share a Firefox started here in a fresh profile
// (VARNE_FIREFOX names the program; started_firefox.h says which are shared) while any of them
// lives, each in a user context (and so a window) of its own, and the Firefox ends with the last
// of them; or each page is a tab of a Firefox elsewhere (firefox_elsewhere.h).
class FirefoxEngine final : public page::Engine {
public:
    // Reads where Firefox runs, and how, through `environment` each time a page is opened.
    explicit FirefoxEngine(EnvironmentLookup environment);

    std::u16string name() const override { return u"Firefox"; }
    // Where a Firefox started now could show its window to a person (can_show_firefox_window()).
    bool can_show_window() const override;
    // Raises AutomationError (server unavailable) saying which step of the start failed.
    std::unique_ptr<page::PageDelegate> open_page(page::PageState& state, bool headless) override;

private:
    EnvironmentLookup m_environment;
    page::BrowserPool m_browsers;
};

}  // namespace varne::bidi
