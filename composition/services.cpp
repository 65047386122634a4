#include "platform/services.h"

#include "page/dialog_window_functions.h"
#include "page/page_launcher.h"
#include "composition/engine_choice.h"
#include "composition/offered_engines.h"
#include "platform/system.h"
#include "spreadsheet/embedded/embedded_launcher.h"

#include <cstdlib>

namespace varne {

namespace {

Services& current_services()
{
    static page::DialogWindowFunctions windows;
    static page::PageLauncher browsers(offered_engines().registry, [] {
        return chosen_engine([](const char* name) { return std::getenv(name); }, offered_engines().names);
    });
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
