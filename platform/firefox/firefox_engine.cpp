#include "platform/firefox/firefox_engine.h"

#include "platform/firefox/firefox_elsewhere.h"
#include "platform/firefox/firefox_page_delegate.h"
#include "platform/firefox/firefox_process.h"
#include "platform/session/session_bounds.h"

#include <mutex>
#include <utility>
#include <vector>

namespace varne::bidi {

namespace {

using Json = nlohmann::json;

// A Firefox started here that pages share.
class SharedFirefox final : public page::SharedBrowser {
public:
    explicit SharedFirefox(std::unique_ptr<FirefoxProcess> process) : m_process(std::move(process))
    {
        for (const Json& tab : session()
                                   .send("browsingContext.getTree", {{"maxDepth", 0}}, session_bounds::kContext)
                                   .value("contexts", Json()))
            m_first_tabs.push_back(tab.value("context", ""));
    }

    BidiSession& session() { return m_process->session(); }
    bool alive() const override { return !m_process->session().closed(); }
    bool shows_windows() const override { return m_process->shows_window(); }
    void close() noexcept override { m_process->close(); }
    void leave_open() noexcept override { m_process->leave_open(); }

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
    std::unique_ptr<FirefoxProcess> m_process;
    std::mutex m_mutex;
    std::vector<std::string> m_first_tabs;
};

// One page's part of a shared Firefox: a user context of its own, removed with the page (its
// windows with it), or left with its window for a person to close.
class UserContextHost final : public FirefoxHost {
public:
    explicit UserContextHost(std::shared_ptr<SharedFirefox> browser) : m_browser(std::move(browser))
    {
        m_user_context = session()
                             .send("browser.createUserContext", Json::object(), session_bounds::kContext)
                             .value("userContext", "");
    }
    ~UserContextHost() override { close(); }

    BidiSession& session() override { return m_browser->session(); }
    bool window_on_this_machine() const override { return m_browser->shows_windows(); }
    std::string user_context() const override { return m_user_context; }
    void close() noexcept override
    {
        if (!m_browser)
            return;
        if (!m_user_context.empty() && !session().closed()) {
            try {
                session().send("browser.removeUserContext", {{"userContext", m_user_context}});
            } catch (const AutomationError&) {
                // A Firefox that does not answer ends with its last page.
            }
        }
        m_browser.reset();
    }
    void leave_open() noexcept override { m_browser.reset(); }

private:
    std::shared_ptr<SharedFirefox> m_browser;
    std::string m_user_context;
};

}  // namespace

FirefoxEngine::FirefoxEngine(EnvironmentLookup environment)
    : m_environment(std::move(environment)), m_browsers(session_bounds::kIdleGrace)
{
}

bool FirefoxEngine::can_show_window() const
{
    return variable_set(m_environment, "DISPLAY");
}

std::unique_ptr<page::PageDelegate> FirefoxEngine::open_page(page::PageState& state, bool headless)
{
    if (auto elsewhere = open_firefox_elsewhere(m_environment))
        return std::make_unique<FirefoxPageDelegate>(std::move(elsewhere), state);
    const bool headed = !headless && can_show_window();
    const std::string key = (headed ? "headed " + std::string(m_environment("DISPLAY")) + " " : "headless ") +
                            variable_or(m_environment, "VARNE_FIREFOX", FirefoxProcess::kDefaultExecutable);
    auto browser = m_browsers.lease<SharedFirefox>(key, [this, headless] {
        return std::make_unique<SharedFirefox>(FirefoxProcess::launch(m_environment, {.headless = headless}));
    });
    auto page = std::make_unique<FirefoxPageDelegate>(std::make_unique<UserContextHost>(browser), state);
    browser->page_opened();
    return page;
}

}  // namespace varne::bidi
