#include "platform/chromium/chromium_engine.h"

#include "platform/chromium/browser_host.h"
#include "platform/chromium/chromium_page_delegate.h"
#include "platform/session/session_bounds.h"

namespace varne::cdp {

namespace {

// A browser that pages share; the browser-level connection is the host's.
class SharedChromium final : public page::SharedBrowser {
public:
    SharedChromium(std::unique_ptr<BrowserHost> host, bool headless) : m_host(std::move(host)), m_headless(headless) {}

    BrowserHost& host() { return *m_host; }
    bool alive() const override { return !m_host->session().closed(); }
    bool shows_windows() const override { return !m_headless && m_host->window_on_this_machine(); }
    void close() noexcept override { m_host->close(); }
    void leave_open() noexcept override { m_host->leave_open(); }

private:
    std::unique_ptr<BrowserHost> m_host;
    bool m_headless;
};

// The part of a shared browser that one page has: a browser context of its own, disposed of with
// the page (its popups with it), or left with its window for a person to close.
class ContextHost final : public BrowserHost {
public:
    ContextHost(std::shared_ptr<SharedChromium> browser, bool own_context) : m_browser(std::move(browser))
    {
        if (!own_context)
            return;
        // A context nobody sees goes with the connection, should this process end without closing it.
        const auto created =
            session().send("Target.createBrowserContext", {{"disposeOnDetach", !m_browser->shows_windows()}}, {},
                           session_bounds::kContext);
        const auto id = created.find("browserContextId");
        if (id == created.end() || !id->is_string())
            throw ProtocolError(ProtocolError::Kind::kBrowserError, error_number::kServerUnavailable,
                                "Chromium answered Target.createBrowserContext without its browserContextId: " +
                                    created.dump());
        m_context = id->get<std::string>();
    }
    ~ContextHost() override { close(); }

    ProtocolSession& session() override { return m_browser->host().session(); }
    bool window_on_this_machine() const override { return m_browser->host().window_on_this_machine(); }
    std::optional<int32_t> native_window() override { return m_browser->host().native_window(); }
    std::string browser_context() const override { return m_context; }

    void close() override
    {
        if (!m_browser)
            return;
        if (!m_context.empty() && !session().closed()) {
            try {
                session().send("Target.disposeBrowserContext", {{"browserContextId", m_context}});
            } catch (const AutomationError&) {
                // A browser that does not answer ends with its last page.
            }
        }
        m_browser.reset();
    }
    void leave_open() override { m_browser.reset(); }

private:
    std::shared_ptr<SharedChromium> m_browser;
    std::string m_context;
};

}  // namespace

ChromiumEngine::ChromiumEngine() : m_browsers(session_bounds::kIdleGrace) {}

bool ChromiumEngine::can_show_window() const
{
    return can_show_browser_window();
}

std::unique_ptr<page::PageDelegate> ChromiumEngine::open_page(page::PageState& state, bool headless)
{
    const std::string key = shared_browser_key(headless);
    auto browser = m_browsers.lease<SharedChromium>(
        key, [headless] { return std::make_unique<SharedChromium>(open_browser_host(headless), headless); });
    return std::make_unique<ChromiumPageDelegate>(std::make_unique<ContextHost>(std::move(browser), !key.empty()),
                                                  state);
}

}  // namespace varne::cdp
