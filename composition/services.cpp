#include <cstdlib>

#include "browser/browser.h"
#include "composition/engine_choice.h"
#include "composition/offered_engines.h"
#include "composition/process_environment.h"
#include "frame/descriptor.h"
#include "page/dialog_window_functions.h"
#include "page/page_launcher.h"
#include "platform/environment.h"
#include "platform/system.h"
#include "records/logging.h"
#include "records/timing.h"
#include "settings/config.h"
#include "spreadsheet/embedded/embedded_launcher.h"
#include "spreadsheet/excel_conn.h"

namespace varne {

const char* process_environment(const char* name)
{
    return std::getenv(name);
}

namespace {

// The adapters of the ports, made once on first use and shared by every object of the process.
struct Adapters {
    Clock& clock = system_clock();
    FileSystem& files = system_file_system();
    page::DialogWindowFunctions windows;
    page::PageLauncher browsers{offered_engines().registry,
                                [] { return chosen_engine(process_environment, offered_engines().names); }, files,
                                process_environment};
    embedded::EmbeddedLauncher spreadsheets{files};
};

Adapters& adapters()
{
    static Adapters made;
    return made;
}

Ref<_Logging> make_logging()
{
    return make_object<Logging>(adapters().files, adapters().clock);
}

Ref<_Timing> make_timing()
{
    return make_object<Timing>(adapters().clock);
}

// Gives each class its creation step when the library is loaded, before any object can be asked for.
const bool kClassesRegistered = [] {
    register_creation_step(u"Browser", [] {
        auto& made = adapters();
        return Ref<Dispatch>(make_object<Browser>(BrowserPorts{.launcher = made.browsers,
                                                               .windows = made.windows,
                                                               .clock = made.clock,
                                                               .logging = make_logging(),
                                                               .timing = make_timing()}));
    });
    register_creation_step(u"Config", [] { return Ref<Dispatch>(make_object<Config>(adapters().files)); });
    register_creation_step(u"Logging", [] { return Ref<Dispatch>(make_logging()); });
    register_creation_step(u"Timing", [] { return Ref<Dispatch>(make_timing()); });
    register_creation_step(u"ExcelConn", [] { return Ref<Dispatch>(make_object<ExcelConn>(adapters().spreadsheets)); });
    return true;
}();

}  // namespace

}  // namespace varne
