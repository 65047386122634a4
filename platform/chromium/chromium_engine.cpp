#include "platform/chromium/chromium_engine.h"

#include "platform/chromium/browser_host.h"
#include "platform/chromium/chromium_page_delegate.h"

namespace varne::cdp {

bool ChromiumEngine::can_show_window() const
{
    return can_show_browser_window();
}

std::unique_ptr<page::PageDelegate> ChromiumEngine::open_page(page::PageState& state, bool headless)
{
    return std::make_unique<ChromiumPageDelegate>(open_browser_host(headless), state);
}

}  // namespace varne::cdp
