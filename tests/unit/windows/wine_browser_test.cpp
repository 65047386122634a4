#include "platform/chromium/windows/wine_browser_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string_view>
#include <fstream>
#include <string>

#include "composition/process_environment.h"
#include "frame/interfaces.h"
#include "frame/late_binding.h"

namespace varne::cdp {
namespace {

// Whether the host process runs: its /proc entry is there and not a zombie's, whose parent reaps it later.
bool running(int pid)
{
    std::ifstream stat("Z:\\proc\\" + std::to_string(pid) + "\\stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto name_end = line.rfind(')');
    return name_end + 2 < line.size() && line[name_end + 2] != 'Z';
}

// The host's own Chromium driven from this Windows program over the loopback socket.
TEST(WineBrowserHost, StartsAnswersAndLeavesNothingBehind)
{
    ASSERT_TRUE(running_under_wine());
    auto host = WineBrowserHost::launch(process_environment, true);
    const int pid = host->pid();
    const auto folder = host->folder();
    EXPECT_TRUE(running(pid));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "profile"));
    auto version = host->session().send("Browser.getVersion", nlohmann::json::object(), {}, std::chrono::seconds(5));
    EXPECT_NE(version.value("product", std::string()).find("Chrome/"), std::string::npos) << version.dump();
    host->close();
    EXPECT_FALSE(running(pid));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// Nobody could see a window without a display: letting go of the browser ends it as close() does.
TEST(WineBrowserHost, LettingGoOfABrowserThatShowsNoWindowEndsIt)
{
    const EnvironmentLookup no_display = [](const char* name) {
        return std::string_view(name) == "DISPLAY" ? nullptr : process_environment(name);
    };
    auto host = WineBrowserHost::launch(no_display, false);
    const int pid = host->pid();
    const auto folder = host->folder();
    host->leave_open();
    EXPECT_FALSE(running(pid));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(WineBrowserHost, TheLibrarysBrowserDrivesAPage)
{
    auto browser = create_library_object<_Browser>(u"Varne.Browser");
    // A data address ends at '#', so the links name files.
    browser->GotoURL(u"data:text/html,<title>t</title><a href='next.html'>Next</a> <a href='other.html'>Next</a>");
    Ref<Dispatch> document = to_object(get_property(*browser->GetBrowser(), u"Document"));
    EXPECT_EQ(browser->LinkExists(document, u"Next"), 2);
    EXPECT_EQ(browser->MatchInnerText(document, u"Next", u"A"), 0);
}

}  // namespace
}  // namespace varne::cdp
