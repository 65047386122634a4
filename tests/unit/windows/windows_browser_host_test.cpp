#include "platform/chromium/windows/windows_browser_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "composition/process_environment.h"
#include "frame/automation_error.h"
#include "platform/transport/windows_browser_program.h"
#include "platform/transport/wine_host_program.h"
#include "tests/support/fake_environment.h"
#include "tests/unit/windows/browser_test_files.h"

namespace varne::cdp {
namespace {

using namespace std::chrono_literals;
using testing::environment_of;
using testing::helper_path;
using testing::profiles;
using testing::Variables;

constexpr int32_t kServerUnavailable = -2147023174;

// What the stand-in browser wrote about itself at its start.
struct Report {
    DWORD pid = 0;
    std::string command_line;
    long long window = 0;

    std::filesystem::path profile() const
    {
        const auto start = command_line.find("--user-data-dir=");
        const auto end = command_line.find('"', start);
        return command_line.substr(start + 16, end - start - 16);
    }
};

bool process_ended(DWORD pid, DWORD within_milliseconds = 5000)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true;
    const bool ended = WaitForSingleObject(process, within_milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// Each test starts the stand-in browser through VARNE_CHROMIUM, in the mode it names.
class WindowsBrowserHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_report = std::filesystem::temp_directory_path() / ("stand-in-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove(m_report);
        SetEnvironmentVariableW(L"VARNE_CHROMIUM", helper_path(L"stand_in_browser.exe").c_str());
        SetEnvironmentVariableW(L"STAND_IN_REPORT", m_report.c_str());
    }

    void TearDown() override
    {
        for (const wchar_t* name : {L"VARNE_CHROMIUM", L"STAND_IN_REPORT", L"STAND_IN_MODE"})
            SetEnvironmentVariableW(name, nullptr);
        std::filesystem::remove(m_report);
    }

    static void set_mode(const wchar_t* mode) { SetEnvironmentVariableW(L"STAND_IN_MODE", mode); }

    Report report() const
    {
        Report report;
        std::ifstream in(m_report);
        in >> report.pid >> std::ws;
        std::getline(in, report.command_line);
        in >> report.window;
        return report;
    }

    static AutomationError launch_error(bool headless, std::chrono::milliseconds start_timeout)
    {
        try {
            WindowsBrowserHost::launch(headless, start_timeout);
        } catch (const AutomationError& error) {
            return error;
        }
        ADD_FAILURE() << "the browser started";
        return {0, ""};
    }

    std::filesystem::path m_report;
};

TEST_F(WindowsBrowserHostTest, AHeadlessBrowserAnswersOverThePipeAndLeavesNothingBehind)
{
    auto host = WindowsBrowserHost::launch(true);
    const Report started = report();
    EXPECT_EQ(started.pid, host->process_id());
    for (const char* flag : {"--remote-debugging-pipe", "--headless=new", "--no-startup-window", "--no-first-run"})
        EXPECT_NE(started.command_line.find(flag), std::string::npos) << flag << " in " << started.command_line;
    EXPECT_EQ(started.profile(), host->folder());
    EXPECT_TRUE(std::filesystem::is_directory(host->folder()));
    EXPECT_EQ(host->session().send("Target.getTargets", nlohmann::json::object(), {}, 5s), nlohmann::json::object());
    EXPECT_EQ(host->native_window(), std::nullopt);

    host->close();
    EXPECT_TRUE(process_ended(started.pid));
    EXPECT_FALSE(std::filesystem::exists(started.profile()));
    EXPECT_FALSE(std::filesystem::exists(started.profile().wstring() + L".lock"));
}

TEST_F(WindowsBrowserHostTest, ABrowserThatStaysSilentFailsAtTheStartTimeOutAndIsEnded)
{
    set_mode(L"silent");
    const auto before = profiles();
    const AutomationError error = launch_error(true, 2000ms);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_EQ(error.description(), "The browser " + helper_path(L"stand_in_browser.exe").string() +
                                       " did not answer within 2000 ms of its start");
    EXPECT_EQ(profiles(), before);
    // A machine under load may end the stand-in before it wrote its report.
    if (const Report started = report(); started.pid != 0)
        EXPECT_TRUE(process_ended(started.pid));
}

TEST_F(WindowsBrowserHostTest, ABrowserThatExitsAtStartSaysHow)
{
    set_mode(L"exit");
    const auto before = profiles();
    const AutomationError error = launch_error(true, 10s);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_NE(error.description().find("exited at start with status 7"), std::string::npos) << error.description();
    EXPECT_EQ(profiles(), before);
}

TEST_F(WindowsBrowserHostTest, AProgramThatCannotBeStartedIsNamed)
{
    SetEnvironmentVariableW(L"VARNE_CHROMIUM", L"C:\\no\\such\\browser.exe");
    const AutomationError error = launch_error(true, 10s);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_TRUE(error.description().starts_with("Cannot start the browser C:\\no\\such\\browser.exe (error "))
        << error.description();
}

TEST_F(WindowsBrowserHostTest, AHeadedBrowsersWindowIsItsTopLevelWindow)
{
    set_mode(L"window");
    auto host = WindowsBrowserHost::launch(false);
    const Report started = report();
    ASSERT_NE(started.window, 0) << "the stand-in could not create its window";
    EXPECT_EQ(started.command_line.find("--headless"), std::string::npos);
    EXPECT_EQ(host->native_window(), static_cast<int32_t>(started.window));
    // Our end of its command pipe closes, as when this process ends; the browser holds another.
    host->session().close();
    EXPECT_FALSE(process_ended(started.pid, 1000));
    host->close();
    EXPECT_TRUE(process_ended(started.pid));
    EXPECT_FALSE(std::filesystem::exists(started.profile()));
}

TEST_F(WindowsBrowserHostTest, AStartRemovesProfilesOfEndedBrowsersAndKeepsThoseInUse)
{
    const auto base = std::filesystem::temp_directory_path();
    const auto abandoned = base / "varne-profile-1";
    const auto abandoned_with_lock = base / "varne-profile-2";
    std::filesystem::create_directories(abandoned / "Default");
    std::filesystem::create_directories(abandoned_with_lock);
    std::ofstream(abandoned_with_lock.string() + ".lock").put('x');

    auto in_use = WindowsBrowserHost::launch(true);
    auto next = WindowsBrowserHost::launch(true);
    EXPECT_FALSE(std::filesystem::exists(abandoned));
    EXPECT_FALSE(std::filesystem::exists(abandoned_with_lock));
    EXPECT_FALSE(std::filesystem::exists(abandoned_with_lock.string() + ".lock"));
    EXPECT_TRUE(std::filesystem::is_directory(in_use->folder()));
    EXPECT_NE(in_use->folder(), next->folder());
}

TEST_F(WindowsBrowserHostTest, UnderWineAWindowsProgramInVarneChromiumTakesThePipe)
{
    auto host = open_browser_host(process_environment, true);
    EXPECT_NE(dynamic_cast<WindowsBrowserHost*>(host.get()), nullptr);
}

TEST_F(WindowsBrowserHostTest, AWindowsProgramsHeadlessBrowserIsSharedAndAHeadedOneThatCanBeSeenIsNot)
{
    if (!running_under_wine())
        GTEST_SKIP() << "whether a window can be seen depends on this process's window station";
    const std::string key = "headless " + utf8_name(helper_path(L"stand_in_browser.exe"));
    const Variables nothing;
    EXPECT_EQ(shared_browser_key(environment_of(nothing), true), key);
    EXPECT_EQ(shared_browser_key(environment_of(nothing), false), key) << "without a display it is headless";
    const Variables shown{{"DISPLAY", ":5"}};
    EXPECT_EQ(shared_browser_key(environment_of(shown), false), "");
    EXPECT_EQ(shared_browser_key(environment_of(shown), true), key);
}

TEST_F(WindowsBrowserHostTest, WithoutVarneChromiumNoBrowserIsFoundUnlessAppPathsNamesOne)
{
    SetEnvironmentVariableW(L"VARNE_CHROMIUM", nullptr);
    ASSERT_EQ(installed_browser(), std::nullopt) << "this prefix has a browser of its own";
    const AutomationError error = launch_error(true, 10s);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_EQ(error.description(),
              "No Chromium-based browser can be started: neither msedge.exe nor chrome.exe is registered under App "
              "Paths, and VARNE_CHROMIUM names none");
}

// A process that never runs until it is ended, for the watchdog to watch.
class SuspendedProcess {
public:
    SuspendedProcess()
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring line = L"pipe_child.exe";
        EXPECT_TRUE(CreateProcessW(helper_path(L"pipe_child.exe").c_str(), line.data(), nullptr, nullptr, FALSE,
                                   CREATE_SUSPENDED, nullptr, nullptr, &startup, &m_started));
    }
    ~SuspendedProcess()
    {
        end();
        CloseHandle(m_started.hThread);
        CloseHandle(m_started.hProcess);
    }
    SuspendedProcess(const SuspendedProcess&) = delete;
    SuspendedProcess& operator=(const SuspendedProcess&) = delete;

    DWORD id() const { return m_started.dwProcessId; }
    void end()
    {
        TerminateProcess(m_started.hProcess, 0);
        WaitForSingleObject(m_started.hProcess, INFINITE);
    }

private:
    PROCESS_INFORMATION m_started{};
};

// A browser's profile, with a file in it and its lock, watched for a client and a browser.
class BrowserFolderWatchdogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_folder / "Default");
        std::ofstream(m_folder / "Default" / "Cookies").put('x');
        std::ofstream(m_lock).put('x');
    }

    void TearDown() override
    {
        std::filesystem::remove_all(m_folder);
        std::filesystem::remove(m_lock);
    }

    std::future<void> watch(DWORD client, DWORD browser, const std::filesystem::path& folder) const
    {
        const std::wstring arguments =
            std::to_wstring(client) + L" " + std::to_wstring(browser) + L" " + folder.wstring();
        return std::async(std::launch::async, [arguments] { watch_browser_folder(arguments.c_str()); });
    }

    const std::filesystem::path m_folder =
        std::filesystem::temp_directory_path() / ("varne-profile-9" + std::to_string(GetCurrentProcessId()));
    const std::filesystem::path m_lock = m_folder.wstring() + L".lock";
};

TEST_F(BrowserFolderWatchdogTest, RemovesTheFolderAndItsLockOnceTheClientAndThenTheBrowserHaveEnded)
{
    SuspendedProcess client;
    SuspendedProcess browser;
    auto watching = watch(client.id(), browser.id(), m_folder);
    client.end();
    browser.end();
    watching.wait();
    EXPECT_FALSE(std::filesystem::exists(m_folder));
    EXPECT_FALSE(std::filesystem::exists(m_lock));
}

TEST_F(BrowserFolderWatchdogTest, EndsWhileTheClientRunsOnceTheClientHasRemovedTheFolderItself)
{
    SuspendedProcess client;
    SuspendedProcess browser;
    auto watching = watch(client.id(), browser.id(), m_folder);
    std::filesystem::remove_all(m_folder);
    EXPECT_EQ(watching.wait_for(60s), std::future_status::ready);
}

TEST_F(BrowserFolderWatchdogTest, RemovesNoFolderButABrowsersProfile)
{
    const auto other =
        std::filesystem::temp_directory_path() / ("varne-test-kept-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(other);
    watch(0, 0, other).wait();
    EXPECT_TRUE(std::filesystem::is_directory(other));
    std::filesystem::remove_all(other);
}

// App Paths keys that the test writes under HKCU and removes again.
class AppPathsTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

    void TearDown() override
    {
        for (const wchar_t* program : {L"msedge.exe", L"chrome.exe"})
            RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAppPaths) + program).c_str());
    }

    static void registered(const wchar_t* program, const std::wstring& value)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (std::wstring(kAppPaths) + program).c_str(), nullptr, REG_SZ,
                                  value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    const std::filesystem::path m_edge = helper_path(L"stand_in_browser.exe");
    const std::filesystem::path m_chrome = helper_path(L"pipe_child.exe");
};

TEST_F(AppPathsTest, EdgeComesBeforeChrome)
{
    registered(L"chrome.exe", m_chrome.wstring());
    EXPECT_EQ(installed_browser(), m_chrome);
    registered(L"msedge.exe", m_edge.wstring());
    EXPECT_EQ(installed_browser(), m_edge);
}

TEST_F(AppPathsTest, QuotesAreDroppedAndMissingFilesPassedOver)
{
    registered(L"msedge.exe", L"C:\\no\\such\\msedge.exe");
    EXPECT_EQ(installed_browser(), std::nullopt);
    registered(L"chrome.exe", L"\"" + m_chrome.wstring() + L"\"");
    EXPECT_EQ(installed_browser(), m_chrome);
}

TEST_F(AppPathsTest, TheRegisteredBrowserIsStartedWhenVarneChromiumIsUnset)
{
    registered(L"msedge.exe", m_edge.wstring());
    auto host = WindowsBrowserHost::launch(true);
    EXPECT_FALSE(host->session().closed());
}

}  // namespace
}  // namespace varne::cdp
