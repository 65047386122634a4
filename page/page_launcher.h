#pragma once

#include <functional>
#include <string>

#include "dom/object_model.h"
#include "page/page_delegate.h"
#include "platform/environment.h"
#include "platform/file_system.h"

namespace varne::page {

// Starts a browser of the chosen engine for each browser application: headed where there is a
// display, headless otherwise or when VARNE_HEADLESS is 1. A headless browser that nobody can see is
// closed with the last reference to its application; every browser still running is closed when the
// process exits.
class PageLauncher final : public dom::BrowserLauncher {
public:
    // `choose_engine` names the engine of each new browser, among `engines`; the applications save
    // their files through `files`, and VARNE_HEADLESS is read through `environment`.
    using EngineChoice = std::function<std::string()>;
    PageLauncher(const EngineRegistry& engines, EngineChoice choose_engine, FileSystem& files,
                 EnvironmentLookup environment);

    Ref<dom::Application> start_application() override;

private:
    const EngineRegistry& m_engines;
    EngineChoice m_choose_engine;
    FileSystem& m_files;
    EnvironmentLookup m_environment;
};

}  // namespace varne::page
