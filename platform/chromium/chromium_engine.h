#pragma once

#include "page/browser_pool.h"
#include "page/page_delegate.h"
#include "platform/environment.h"

namespace varne::cdp {

// Chromium, driven over the DevTools protocol: a local child, a Grid's browser or a running
// Chromium, as the environment says when a page is opened. Pages opened at one place share its
// browser while any of them lives, each in a browser context (and so a window) of its own.
class ChromiumEngine final : public page::Engine {
public:
    // Reads where the browser runs, and how, through `environment` each time a page is opened.
    explicit ChromiumEngine(EnvironmentLookup environment);

    std::u16string name() const override { return u"Chromium"; }
    bool can_show_window() const override;
    std::unique_ptr<page::PageDelegate> open_page(page::PageState& state, bool headless) override;

private:
    EnvironmentLookup m_environment;
    page::BrowserPool m_browsers;
};

}  // namespace varne::cdp
