#include "composition/offered_engines.h"
#include "composition/process_environment.h"

#include <array>

#include "platform/chromium/chromium_engine.h"
#include "platform/firefox/firefox_engine.h"
#include "platform/transport/wine_host_program.h"

namespace varne {

// Firefox is the host's, started under Wine; on Windows itself it is not offered yet.
const OfferedEngines& offered_engines()
{
    static constexpr std::array<std::string_view, 2> kNames{"chromium", "firefox"};
    static constexpr std::array<std::string_view, 1> kWindowsNames{"chromium"};
    static cdp::ChromiumEngine chromium{process_environment};
    static bidi::FirefoxEngine firefox{process_environment};
    static const OfferedEngines offered = [] {
        const bool wine = running_under_wine();
        OfferedEngines engines{.registry = {},
                               .names = wine ? std::span<const std::string_view>(kNames) : kWindowsNames};
        engines.registry.add("chromium", chromium);
        if (wine)
            engines.registry.add("firefox", firefox);
        return engines;
    }();
    return offered;
}

}  // namespace varne
