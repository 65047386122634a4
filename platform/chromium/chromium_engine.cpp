#include "platform/chromium/chromium_engine.h"

#include "platform/chromium/browser_host.h"
#include "platform/chromium/chromium_page_delegate.h"
#include "platform/session/session_bounds.h"

#include <tuple>
#include <utility>

namespace varne::cdp {

namespace {

// A new browser context, one that a person never sees when `hidden`: it then goes with the
// connection, should this process end without disposing of it.
std::string create_context(ProtocolSession& session, bool hidden)
{
    const auto created =
        session.send("Target.createBrowserContext", {{"disposeOnDetach", hidden}}, {}, session_bounds::kContext);
    const auto id = created.find("browserContextId");
    if (id == created.end() || !id->is_string())
        throw ProtocolError(ProtocolError::Kind::kBrowserError, error_number::kServerUnavailable,
                            "Chromium answered Target.createBrowserContext without its browserContextId: " +
                                created.dump());
    return id->get<std::string>();
}

void dispose_context(ProtocolSession& session, const std::string& context) noexcept
{
    if (context.empty() || session.closed())
        return;
    try {
        session.send("Target.disposeBrowserContext", {{"browserContextId", context}});
    } catch (const AutomationError&) {
        // A browser that does not answer ends with its last page.
    }
}

// A blank page in a context of its own, opened ahead for the next page and attached, so that its
// renderer has started and its watches are on by the time a page takes it; disposed of unless adopted.
class SpareTab final : public page::SpareWindow {
public:
    explicit SpareTab(ProtocolSession& session) : m_session(session), m_context(create_context(session, true))
    {
        try {
            const auto created =
                session.send("Target.createTarget", {{"url", "about:blank"}, {"browserContextId", m_context}}, {},
                             session_bounds::kContext);
            m_page.target_id = created.value("targetId", "");
            m_page.session_id = ChromiumPageDelegate::attach_ahead(session, m_page.target_id);
        } catch (...) {
            dispose_context(m_session, m_context);
            throw;
        }
    }
    ~SpareTab() override { dispose_context(m_session, m_context); }

    // The context and its page, now the caller's to dispose of.
    std::pair<std::string, BrowserHost::OpenedPage> adopt()
    {
        return {std::exchange(m_context, {}), std::exchange(m_page, {})};
    }

private:
    ProtocolSession& m_session;
    std::string m_context;
    BrowserHost::OpenedPage m_page;
};

// A browser that pages share; the browser-level connection is the host's. Only a browser that
// nobody sees keeps a spare tab: in a window on the screen, or in a browser someone else runs, it
// would show.
class SharedChromium final : public page::SharedBrowser {
public:
    SharedChromium(std::unique_ptr<BrowserHost> host, bool headless, bool keeps_spare)
        : m_host(std::move(host)), m_headless(headless), m_keeps_spare(keeps_spare)
    {
    }

    BrowserHost& host() { return *m_host; }
    bool alive() const override { return !m_host->session().closed(); }
    bool shows_windows() const override { return !m_headless && m_host->window_on_this_machine(); }
    void close() noexcept override { m_host->close(); }
    void leave_open() noexcept override { m_host->leave_open(); }
    std::unique_ptr<page::SpareWindow> open_spare_window() override
    {
        if (!m_keeps_spare)
            return nullptr;
        return std::make_unique<SpareTab>(m_host->session());
    }

private:
    std::unique_ptr<BrowserHost> m_host;
    bool m_headless;
    bool m_keeps_spare;
};

// The part of a shared browser that one page has: a browser context of its own, disposed of with
// the page (its popups with it), or left with its window for a person to close.
class ContextHost final : public BrowserHost {
public:
    // `spare`: a tab opened ahead, which the page then takes with its context.
    ContextHost(std::shared_ptr<SharedChromium> browser, bool own_context, std::unique_ptr<SpareTab> spare)
        : m_browser(std::move(browser))
    {
        if (spare)
            std::tie(m_context, m_page) = spare->adopt();
        else if (own_context)
            m_context = create_context(session(), !m_browser->shows_windows());
    }
    ~ContextHost() override { close(); }

    ProtocolSession& session() override { return m_browser->host().session(); }
    bool window_on_this_machine() const override { return m_browser->host().window_on_this_machine(); }
    std::optional<int32_t> native_window() override { return m_browser->host().native_window(); }
    std::string browser_context() const override { return m_context; }
    OpenedPage opened_page() const override { return m_page; }

    void close() override
    {
        if (!m_browser)
            return;
        dispose_context(session(), m_context);
        m_browser.reset();
    }
    void leave_open() override { m_browser.reset(); }

private:
    std::shared_ptr<SharedChromium> m_browser;
    std::string m_context;
    OpenedPage m_page;
};

}  // namespace

ChromiumEngine::ChromiumEngine(EnvironmentLookup environment)
    : m_environment(std::move(environment)), m_browsers(session_bounds::kIdleGrace)
{
}

bool ChromiumEngine::can_show_window() const
{
    return can_show_browser_window(m_environment);
}

std::unique_ptr<page::PageDelegate> ChromiumEngine::open_page(page::PageState& state, bool headless)
{
    const std::string key = shared_browser_key(m_environment, headless);
    const bool keeps_spare = key.starts_with("headless ");
    auto browser = m_browsers.lease<SharedChromium>(key, [this, headless, keeps_spare] {
        return std::make_unique<SharedChromium>(open_browser_host(m_environment, headless), headless, keeps_spare);
    });
    auto spare = m_browsers.take_spare<SpareTab>(*browser);
    const page::SharedBrowser& shared = *browser;
    auto page = std::make_unique<ChromiumPageDelegate>(
        std::make_unique<ContextHost>(std::move(browser), !key.empty(), std::move(spare)), state);
    m_browsers.open_spares(shared);
    return page;
}

}  // namespace varne::cdp
