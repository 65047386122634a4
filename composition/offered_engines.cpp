#include "composition/offered_engines.h"
#include "composition/process_environment.h"

#include <array>

#include "platform/chromium/chromium_engine.h"
#include "platform/firefox/firefox_engine.h"

namespace varne {

const OfferedEngines& offered_engines()
{
    static constexpr std::array<std::string_view, 2> kNames{"chromium", "firefox"};
    static cdp::ChromiumEngine chromium{process_environment};
    static bidi::FirefoxEngine firefox{process_environment};
    static const OfferedEngines offered = [] {
        OfferedEngines engines{.registry = {}, .names = kNames};
        engines.registry.add("chromium", chromium);
        engines.registry.add("firefox", firefox);
        return engines;
    }();
    return offered;
}

}  // namespace varne
