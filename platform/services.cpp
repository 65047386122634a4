#include "platform/services.h"

#include "page/dialog_window_functions.h"
#include "page/page_launcher.h"
#include "platform/chromium/chromium_engine.h"
#include "platform/engine_choice.h"
#include "platform/system.h"
#include "spreadsheet/embedded/embedded_launcher.h"

#ifndef _WIN32
#include "platform/firefox/firefox_engine.h"
#endif

#include <array>
#include <cstdlib>
#include <string_view>

namespace varne {

namespace {

Services& current_services()
{
    // Each engine under its name; the page model names none itself.
    static cdp::ChromiumEngine chromium;
#ifdef _WIN32
    static constexpr std::array<std::string_view, 1> kEngineNames{"chromium"};
#else
    static bidi::FirefoxEngine firefox;
    static constexpr std::array<std::string_view, 2> kEngineNames{"chromium", "firefox"};
#endif
    static const page::EngineRegistry engines = [] {
        page::EngineRegistry registry;
        registry.add("chromium", chromium);
#ifndef _WIN32
        registry.add("firefox", firefox);
#endif
        return registry;
    }();
    static page::DialogWindowFunctions windows;
    static page::PageLauncher browsers(
        engines, [] { return chosen_engine([](const char* name) { return std::getenv(name); }, kEngineNames); });
    static embedded::EmbeddedLauncher spreadsheets;
    static Services current{.clock = &system_clock(),
                            .files = &system_file_system(),
                            .windows = &windows,
                            .browsers = &browsers,
                            .spreadsheets = &spreadsheets};
    return current;
}

}  // namespace

const Services& services()
{
    return current_services();
}

ScopedServices::ScopedServices(const Services& replacement) : m_previous(current_services())
{
    auto& current = current_services();
    if (replacement.clock)
        current.clock = replacement.clock;
    if (replacement.files)
        current.files = replacement.files;
    if (replacement.windows)
        current.windows = replacement.windows;
    if (replacement.browsers)
        current.browsers = replacement.browsers;
    if (replacement.spreadsheets)
        current.spreadsheets = replacement.spreadsheets;
}

ScopedServices::~ScopedServices()
{
    current_services() = m_previous;
}

}  // namespace varne
