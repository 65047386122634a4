#include "platform/services.h"

#include "platform/chromium/chromium_application.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/system_clock.h"
#include "spreadsheet/embedded/embedded_launcher.h"

namespace varne {

namespace {

Services& current_services()
{
    static SystemClock clock;
    static PosixFileSystem files;
    static chromium::ChromiumWindowFunctions windows;
    static chromium::ChromiumLauncher browsers;
    static embedded::EmbeddedLauncher spreadsheets;
    static Services current{
        .clock = &clock, .files = &files, .windows = &windows, .browsers = &browsers, .spreadsheets = &spreadsheets};
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
