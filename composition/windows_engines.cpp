#include "composition/offered_engines.h"

#include <array>

#include "platform/chromium/chromium_engine.h"

namespace varne {

// Firefox is not offered here yet: its process and transport have no Windows adapters.
const OfferedEngines& offered_engines()
{
    static constexpr std::array<std::string_view, 1> kNames{"chromium"};
    static cdp::ChromiumEngine chromium;
    static const OfferedEngines offered = [] {
        OfferedEngines engines{.registry = {}, .names = kNames};
        engines.registry.add("chromium", chromium);
        return engines;
    }();
    return offered;
}

}  // namespace varne
