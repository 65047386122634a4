#include "page/page_launcher.h"

#include <string_view>

#include "frame/automation_error.h"
#include "page/browser_application.h"
#include "page/browser_registry.h"

namespace varne::page {

PageLauncher::PageLauncher(const EngineRegistry& engines, EngineChoice choose_engine, FileSystem& files,
                           EnvironmentLookup environment)
    : m_engines(engines),
      m_choose_engine(std::move(choose_engine)),
      m_files(files),
      m_environment(std::move(environment))
{
}

Ref<dom::Application> PageLauncher::start_application()
{
    const std::string name = m_choose_engine();
    Engine* engine = m_engines.find(name);
    if (!engine)
        throw AutomationError(error_number::kInvalidProcedureCall, "No browser engine is called \"" + name + "\"");
    const char* forced = m_environment("VARNE_HEADLESS");
    const bool headless = (forced && std::string_view(forced) == "1") || !engine->can_show_window();
    auto page = std::make_shared<BrowserPage>(*engine, browser_registry().next_window(), headless);
    browser_registry().add(page);
    return make_object<BrowserApplication>(page, engine->name(), m_files);
}

}  // namespace varne::page
