#include "platform/firefox/firefox_engine.h"

#include "platform/firefox/firefox_elsewhere.h"
#include "platform/firefox/firefox_page_delegate.h"
#include "platform/firefox/started_firefox.h"
#include "platform/session/session_bounds.h"

#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace varne::bidi {

namespace {

using Json = nlohmann::json;

void remove_user_context(BidiSession& session, const std::string& user_context) noexcept
{
    if (user_context.empty() || session.closed())
        return;
    try {
        session.send("browser.removeUserContext", {{"userContext", user_context}});
    } catch (const AutomationError&) {
        // A Firefox that does not answer ends with its last page.
    }
}

// A blank window in a user context of its own, opened ahead for the next page, with the page's
// events already asked for; removed unless adopted.
class SpareFirefoxWindow final : public page::SpareWindow {
public:
    explicit SpareFirefoxWindow(BidiSession& session)
        : m_session(session),
          m_user_context(session.send("browser.createUserContext", Json::object(), session_bounds::kContext)
                             .value("userContext", ""))
    {
        try {
            m_tab = session
                        .send("browsingContext.create", {{"type", "window"}, {"userContext", m_user_context}},
                              session_bounds::kContext)
                        .value("context", "");
            m_subscription = subscribe_to_page_events(session, m_tab);
        } catch (...) {
            remove_user_context(m_session, m_user_context);
            throw;
        }
    }
    ~SpareFirefoxWindow() override { remove_user_context(m_session, m_user_context); }

    // The user context, now the caller's to remove, its window's tab and the subscription to the
    // tab's events.
    std::tuple<std::string, std::string, std::string> adopt()
    {
        return {std::exchange(m_user_context, {}), std::move(m_tab), std::move(m_subscription)};
    }

private:
    BidiSession& m_session;
    std::string m_user_context;
    std::string m_tab;
    std::string m_subscription;
};

// A Firefox started here that pages share. Only a headless one keeps a spare window: a person
// would see it.
class SharedFirefox final : public page::SharedBrowser {
public:
    explicit SharedFirefox(std::unique_ptr<StartedFirefox> firefox) : m_firefox(std::move(firefox))
    {
        for (const Json& tab : session()
                                   .send("browsingContext.getTree", {{"maxDepth", 0}}, session_bounds::kContext)
                                   .value("contexts", Json()))
            m_first_tabs.push_back(tab.value("context", ""));
    }

    BidiSession& session() { return m_firefox->session(); }
    bool alive() const override { return !m_firefox->session().closed(); }
    bool shows_windows() const override { return m_firefox->shows_window(); }
    void close() noexcept override { m_firefox->close(); }
    void leave_open() noexcept override { m_firefox->leave_open(); }
    std::unique_ptr<page::SpareWindow> open_spare_window() override
    {
        if (shows_windows())
            return nullptr;
        return std::make_unique<SpareFirefoxWindow>(session());
    }

    // Firefox quits with its last window: a headless one keeps the window it started with, so that
    // it waits for the next page; a headed one closes it once a page has its own, so that a person
    // ends the browser by closing the last window they see.
    void page_opened()
    {
        if (!shows_windows())
            return;
        std::lock_guard lock(m_mutex);
        for (const auto& tab : std::exchange(m_first_tabs, {}))
            session().post("browsingContext.close", {{"context", tab}});
    }

private:
    std::unique_ptr<StartedFirefox> m_firefox;
    std::mutex m_mutex;
    std::vector<std::string> m_first_tabs;
};

// One page's part of a shared Firefox: a user context of its own, removed with the page (its
// windows with it), or left with its window for a person to close. A page alone in its Firefox
// opens in the default user context, which goes with the browser.
class UserContextHost final : public FirefoxHost {
public:
    // `spare`: a window opened ahead, which the page then takes with its user context.
    UserContextHost(std::shared_ptr<SharedFirefox> browser, bool own_context, std::unique_ptr<SpareFirefoxWindow> spare)
        : m_browser(std::move(browser))
    {
        if (spare)
            std::tie(m_user_context, m_tab, m_subscription) = spare->adopt();
        else if (own_context)
            m_user_context = session()
                                 .send("browser.createUserContext", Json::object(), session_bounds::kContext)
                                 .value("userContext", "");
    }
    ~UserContextHost() override { close(); }

    BidiSession& session() override { return m_browser->session(); }
    bool window_on_this_machine() const override { return m_browser->shows_windows(); }
    std::string user_context() const override { return m_user_context; }
    std::optional<std::string> own_tab() const override
    {
        if (m_tab.empty())
            return std::nullopt;
        return m_tab;
    }
    std::string own_tab_subscription() const override { return m_subscription; }
    void close() noexcept override
    {
        if (!m_browser)
            return;
        remove_user_context(session(), m_user_context);
        m_browser.reset();
    }
    void leave_open() noexcept override { m_browser.reset(); }

private:
    std::shared_ptr<SharedFirefox> m_browser;
    std::string m_user_context;
    std::string m_tab;
    std::string m_subscription;
};

}  // namespace

FirefoxEngine::FirefoxEngine(EnvironmentLookup environment)
    : m_environment(std::move(environment)), m_browsers(session_bounds::kIdleGrace)
{
}

bool FirefoxEngine::can_show_window() const
{
    return can_show_firefox_window(m_environment);
}

std::unique_ptr<page::PageDelegate> FirefoxEngine::open_page(page::PageState& state, bool headless)
{
    if (auto elsewhere = open_firefox_elsewhere(m_environment))
        return std::make_unique<FirefoxPageDelegate>(std::move(elsewhere), state);
    const std::string key = shared_firefox_key(m_environment, headless);
    auto browser = m_browsers.lease<SharedFirefox>(
        key, [this, headless] { return std::make_unique<SharedFirefox>(start_firefox(m_environment, headless)); });
    auto spare = m_browsers.take_spare<SpareFirefoxWindow>(*browser);
    auto page = std::make_unique<FirefoxPageDelegate>(
        std::make_unique<UserContextHost>(browser, !key.empty(), std::move(spare)), state);
    browser->page_opened();
    return page;
}

}  // namespace varne::bidi
