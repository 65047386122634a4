#include "composition/offered_engines.h"
#include "composition/process_environment.h"

#include <array>

#include "platform/chromium/chromium_engine.h"
#include "platform/firefox/firefox_engine.h"
#include "platform/module.h"

namespace varne {

namespace {

// An engine destroyed at exit ends the browser it keeps for a next Browser and joins the pool's
// threads. Where those threads are gone by then, and no thread may be waited for, it is never
// destroyed: the kept browser then ends with this process on its own. A library unloaded before
// leaves only the engines' memory, since they hold no browser and no thread then.
template <class Engine>
Engine& make_engine()
{
    if (!threads_outlive_exit_of_statics())
        return *new Engine{process_environment};
    static Engine engine{process_environment};
    return engine;
}

}  // namespace

const OfferedEngines& offered_engines()
{
    static constexpr std::array<std::string_view, 2> kNames{"chromium", "firefox"};
    static auto& chromium = make_engine<cdp::ChromiumEngine>();
    static auto& firefox = make_engine<bidi::FirefoxEngine>();
    static const OfferedEngines offered = [] {
        OfferedEngines engines{.registry = {}, .names = kNames};
        engines.registry.add("chromium", chromium);
        engines.registry.add("firefox", firefox);
        return engines;
    }();
    return offered;
}

}  // namespace varne
