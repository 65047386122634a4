#include "platform/firefox/firefox_engine.h"

#include "platform/firefox/firefox_elsewhere.h"
#include "platform/firefox/firefox_page_delegate.h"
#include "platform/firefox/firefox_process.h"

#include <cstdlib>

namespace varne::bidi {

namespace {

// A Firefox started here, with its window on this machine when it has one.
class LocalFirefox final : public FirefoxHost {
public:
    explicit LocalFirefox(std::unique_ptr<FirefoxProcess> process) : m_process(std::move(process)) {}

    BidiSession& session() override { return m_process->session(); }
    bool window_on_this_machine() const override { return m_process->shows_window(); }
    void close() noexcept override { m_process->close(); }

private:
    std::unique_ptr<FirefoxProcess> m_process;
};

}  // namespace

bool FirefoxEngine::can_show_window() const
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

std::unique_ptr<page::PageDelegate> FirefoxEngine::open_page(page::PageState& state, bool headless)
{
    if (auto elsewhere = open_firefox_elsewhere())
        return std::make_unique<FirefoxPageDelegate>(std::move(elsewhere), state);
    auto host = std::make_unique<LocalFirefox>(FirefoxProcess::launch({.headless = headless}));
    return std::make_unique<FirefoxPageDelegate>(std::move(host), state);
}

}  // namespace varne::bidi
