#pragma once

#include "page/page_delegate.h"

namespace varne::cdp {

// Chromium, driven over the DevTools protocol: a local child, a Grid's browser or a running
// Chromium, as the environment says when a page is opened.
class ChromiumEngine final : public page::Engine {
public:
    std::u16string name() const override { return u"Chromium"; }
    bool can_show_window() const override;
    std::unique_ptr<page::PageDelegate> open_page(page::PageState& state, bool headless) override;
};

}  // namespace varne::cdp
