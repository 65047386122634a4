#pragma once

#include "page/page_delegate.h"

#include <memory>
#include <string>

namespace varne::bidi {

// Firefox as an engine of the page model: each page is the tab of a Firefox of its own, started
// here in a fresh profile (VARNE_FIREFOX names the program) and ended with its page, or a tab of a
// Firefox elsewhere (firefox_elsewhere.h).
class FirefoxEngine final : public page::Engine {
public:
    std::u16string name() const override { return u"Firefox"; }
    // Where DISPLAY names an X display.
    bool can_show_window() const override;
    // Raises AutomationError (server unavailable) saying which step of the start failed.
    std::unique_ptr<page::PageDelegate> open_page(page::PageState& state, bool headless) override;
};

}  // namespace varne::bidi
