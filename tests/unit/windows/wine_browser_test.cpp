#include "platform/chromium/windows/wine_browser_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>

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

using namespace std::chrono_literals;

// Whether a process of the host names `text` in its command line.
bool process_names(const std::string& text)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entries("Z:\\proc", error), end; !error && entries != end;
         entries.increment(error)) {
        std::ifstream file(entries->path() / "cmdline", std::ios::binary);
        const std::string line{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

template <typename Condition>
bool soon(Condition condition)
{
    for (int i = 0; i < 100 && !condition(); ++i)
        std::this_thread::sleep_for(100ms);
    return condition();
}

// A program of the host with its watchdog, which keeps it running or not.
int start_watched(WineHostProgram& program, bool keeps_running, const std::string& run)
{
    program.start(program.shell_watchdog(keeps_running) + "exec " + run);
    EXPECT_TRUE(program.wait_for_pid(std::chrono::steady_clock::now() + 10s));
    return program.pid();
}

// The watch line ends however this process ends; letting go of the program ends it the same way,
// so the watchdog's part is seen here. Until then the watchdog waits.
TEST(WineHostProgram, AWatchdogEndsAProgramLetGoOfAndRemovesItsFolder)
{
    WineHostProgram program("varne-test-watch-");
    const int pid = start_watched(program, false, "sleep 60");
    const auto folder = program.folder();
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(running(pid));
    program.let_go();
    EXPECT_TRUE(soon([&] { return !running(pid) && !std::filesystem::exists(folder); }));
}

TEST(WineHostProgram, AWatchdogKeepsAProgramThatShowsAWindowAndRemovesTheFolderOnceItExits)
{
    WineHostProgram program("varne-test-watch-");
    const int pid = start_watched(program, true, "sleep 3");
    const auto folder = program.folder();
    program.let_go();
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(running(pid));
    EXPECT_TRUE(std::filesystem::exists(folder));
    EXPECT_TRUE(soon([&] { return !running(pid) && !std::filesystem::exists(folder); }));
}

// After finish() the watchdog has nothing left to do, and leaves without waiting for this process
// to end.
TEST(WineHostProgram, AFinishedProgramsWatchdogLeaves)
{
    WineHostProgram program("varne-test-watch-");
    const int pid = start_watched(program, false, "sleep 60");
    const std::string name = program.folder().filename().string();
    ASSERT_TRUE(soon([&] { return process_names(name); }));
    program.finish(0ms);
    EXPECT_FALSE(running(pid));
    EXPECT_TRUE(soon([&] { return !process_names(name); }));
}

// What a process of the program writes into the folder after the program has gone, as a
// browser's helpers do, goes too: the folder goes once no process names a file in it.
TEST(WineHostProgram, WhatTheProgramsOtherProcessesWriteLateGoesToo)
{
    WineHostProgram program("varne-test-watch-");
    const auto folder = program.folder();
    program.start(program.shell_watchdog(false) + "(sleep 2; mkdir -p " +
                  shell_quoted(program.host_folder() + "/late") + ") & exec sleep 60");
    ASSERT_TRUE(program.wait_for_pid(std::chrono::steady_clock::now() + 10s));
    program.finish(0ms);
    EXPECT_FALSE(std::filesystem::exists(folder));
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(soon([&] { return !std::filesystem::exists(folder); }));
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
