#include "platform/firefox/windows/windows_firefox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "frame/automation_error.h"
#include "page/page_state.h"
#include "platform/firefox/firefox_engine.h"
#include "platform/firefox/started_firefox.h"
#include "tests/support/fake_environment.h"
#include "tests/unit/windows/browser_test_files.h"
#include "platform/transport/wine_host_program.h"

namespace varne::bidi {
namespace {

using namespace std::chrono_literals;
using testing::environment_of;
using testing::helper_path;
using testing::profiles;
using testing::Variables;

constexpr int32_t kServerUnavailable = -2147023174;

AutomationError launch_error(const EnvironmentLookup& environment, std::chrono::milliseconds listen_timeout = 120s)
{
    try {
        WindowsFirefox::launch(environment, true, listen_timeout);
    } catch (const AutomationError& error) {
        return error;
    }
    ADD_FAILURE() << "Firefox started";
    return {0, ""};
}

// Starts stand_in_browser.exe in the mode it names, in place of firefox.exe.
class WindowsFirefoxStartTest : public ::testing::Test {
protected:
    void TearDown() override { SetEnvironmentVariableW(L"STAND_IN_MODE", nullptr); }

    static AutomationError start_error(const wchar_t* mode, std::chrono::milliseconds listen_timeout)
    {
        SetEnvironmentVariableW(L"STAND_IN_MODE", mode);
        const Variables variables{{"VARNE_FIREFOX", m_stand_in.string()}};
        return launch_error(environment_of(variables), listen_timeout);
    }

    static inline const std::filesystem::path m_stand_in = helper_path(L"stand_in_browser.exe");
};

TEST_F(WindowsFirefoxStartTest, AProgramThatExitsAtStartSaysHowAndLeavesNoProfile)
{
    const auto before = profiles();
    const AutomationError error = start_error(L"exit", 120s);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_EQ(error.description(), "Firefox (" + m_stand_in.string() + ") exited at start with status 7");
    EXPECT_EQ(profiles(), before);
}

TEST_F(WindowsFirefoxStartTest, AProgramThatGivesNoAddressFailsAtTheBoundAndIsEnded)
{
    const auto before = profiles();
    const AutomationError error = start_error(L"silent", 2000ms);
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_EQ(error.description(),
              "Firefox (" + m_stand_in.string() + ") gave no WebDriver BiDi address within 2000 ms of its start");
    EXPECT_EQ(profiles(), before);
}

TEST_F(WindowsFirefoxStartTest, AProgramThatCannotBeStartedIsNamed)
{
    const Variables variables{{"VARNE_FIREFOX", "C:\\no\\such\\firefox.exe"}};
    const AutomationError error = launch_error(environment_of(variables));
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_TRUE(error.description().starts_with("Cannot start the browser C:\\no\\such\\firefox.exe (error "))
        << error.description();
}

// App Paths keys that the test writes under HKCU and removes again.
class FirefoxAppPathsTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\firefox.exe";

    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

    static void registered(const std::wstring& value)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, nullptr, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    const std::filesystem::path m_firefox = helper_path(L"stand_in_browser.exe");
    const Variables m_nothing;
};

TEST_F(FirefoxAppPathsTest, WithoutVarneFirefoxNothingIsStartedUnlessAppPathsNamesFirefox)
{
    ASSERT_EQ(installed_firefox(), std::nullopt) << "this prefix has a Firefox of its own";
    const AutomationError error = launch_error(environment_of(m_nothing));
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_EQ(error.description(),
              "No Firefox can be started: firefox.exe is not registered under App Paths, and VARNE_FIREFOX names none");
}

TEST_F(FirefoxAppPathsTest, TheRegisteredFileIsFoundUnquotedAndAMissingOneIsPassedOver)
{
    registered(L"C:\\no\\such\\firefox.exe");
    EXPECT_EQ(installed_firefox(), std::nullopt);
    registered(L"\"" + m_firefox.wstring() + L"\"");
    EXPECT_EQ(installed_firefox(), m_firefox);
}

TEST_F(FirefoxAppPathsTest, TheRegisteredProgramIsStartedWhenVarneFirefoxIsUnset)
{
    registered(m_firefox.wstring());
    SetEnvironmentVariableW(L"STAND_IN_MODE", L"exit");
    const AutomationError error = launch_error(environment_of(m_nothing));
    SetEnvironmentVariableW(L"STAND_IN_MODE", nullptr);
    EXPECT_EQ(error.description(), "Firefox (" + m_firefox.string() + ") exited at start with status 7");
}

// The host's Firefox, reached through host_firefox.exe, which Wine starts as a Windows program.
TEST(WindowsFirefoxUnderWineTest, TheHostsFirefoxAnswersInAProfileWithThePrefsAndLeavesNothingBehind)
{
    if (!running_under_wine() || !std::filesystem::exists("Z:\\usr\\bin\\firefox-esr"))
        GTEST_SKIP() << "needs Wine and the host's firefox-esr";
    const auto before = profiles();
    const Variables variables{{"VARNE_FIREFOX", helper_path(L"host_firefox.exe").string()}};
    auto firefox = WindowsFirefox::launch(environment_of(variables), true);
    const std::filesystem::path folder = firefox->folder();
    std::stringstream prefs;
    prefs << std::ifstream(folder / "user.js").rdbuf();
    EXPECT_NE(prefs.str().find("user_pref(\"app.update.disabledForTesting\", true);"), std::string::npos)
        << prefs.str();
    const auto tree = firefox->session().send("browsingContext.getTree", nlohmann::json::object(), 30s);
    EXPECT_EQ(tree["contexts"].size(), 1u) << tree.dump();
    EXPECT_FALSE(firefox->shows_window());

    const DWORD pid = firefox->process_id();
    firefox->close();
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    EXPECT_TRUE(!process || WaitForSingleObject(process, 5000) == WAIT_OBJECT_0);
    if (process)
        CloseHandle(process);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(profiles(), before);
}

TEST(FirefoxSharingTest, AHeadlessFirefoxIsSharedAndAHeadedOneThatCanBeSeenIsNot)
{
    if (!running_under_wine())
        GTEST_SKIP() << "on Windows itself every page starts a Firefox of its own";
    const Variables nothing;
    EXPECT_EQ(shared_firefox_key(environment_of(nothing), true), "headless /usr/bin/firefox-esr");
    EXPECT_EQ(shared_firefox_key(environment_of(nothing), false), "headless /usr/bin/firefox-esr")
        << "without a display a headed Firefox is headless";
    const Variables other{{"VARNE_FIREFOX", "/opt/firefox/firefox"}};
    EXPECT_EQ(shared_firefox_key(environment_of(other), true), "headless /opt/firefox/firefox");
    const Variables shown{{"DISPLAY", ":5"}};
    EXPECT_EQ(shared_firefox_key(environment_of(shown), false), "");
    EXPECT_EQ(shared_firefox_key(environment_of(shown), true), "headless /usr/bin/firefox-esr");
    const Variables windows_program{{"VARNE_FIREFOX", "C:\\Program Files\\Mozilla Firefox\\firefox.exe"}};
    EXPECT_EQ(shared_firefox_key(environment_of(windows_program), true),
              "headless C:\\Program Files\\Mozilla Firefox\\firefox.exe");
    const Variables shown_windows_program{{"DISPLAY", ":5"}, {"VARNE_FIREFOX", "C:\\Firefox\\firefox.exe"}};
    EXPECT_EQ(shared_firefox_key(environment_of(shown_windows_program), false), "");
}

// The folders of the host's Firefox under Wine in the temporary folder, which its profile is in.
std::set<std::filesystem::path> host_firefox_folders()
{
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
        if (entry.path().filename().string().starts_with("varne-firefox-"))
            found.insert(entry.path());
    }
    return found;
}

std::set<std::filesystem::path> added(const std::set<std::filesystem::path>& now,
                                      const std::set<std::filesystem::path>& before)
{
    std::set<std::filesystem::path> difference;
    std::ranges::set_difference(now, before, std::inserter(difference, difference.end()));
    return difference;
}

// Whether `folder` is gone within a bound, as a browser's folder goes once the browser has exited.
bool gone_soon(const std::filesystem::path& folder)
{
    for (int i = 0; i < 300 && std::filesystem::exists(folder); ++i)
        std::this_thread::sleep_for(100ms);
    return !std::filesystem::exists(folder);
}

// The engine under Wine against the host's Firefox and, through host_firefox.exe, a Windows
// program's.
class FirefoxEngineUnderWineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!running_under_wine() || !std::filesystem::exists("Z:\\usr\\bin\\firefox-esr"))
            GTEST_SKIP() << "needs Wine and the host's firefox-esr";
    }

    // Opens the first page of an engine on the host's Firefox, and notes the folder of the Firefox
    // that it started.
    void open_first_page()
    {
        m_engine.emplace(environment_of(m_nothing));
        m_first = m_engine->open_page(m_states[0], true);
        const auto started = new_folders();
        ASSERT_EQ(started.size(), 1u);
        m_folder = *started.begin();
    }

    // The folders of the host's Firefox made since the test began.
    std::set<std::filesystem::path> new_folders() const { return added(host_firefox_folders(), m_before); }

    const std::set<std::filesystem::path> m_before = host_firefox_folders();
    const Variables m_nothing;
    page::PageState m_states[3];
    std::optional<FirefoxEngine> m_engine;
    std::unique_ptr<page::PageDelegate> m_first;
    std::filesystem::path m_folder;
};

TEST_F(FirefoxEngineUnderWineTest, HeadlessPagesShareOneHostFirefoxThatEndsWithTheEngine)
{
    ASSERT_NO_FATAL_FAILURE(open_first_page());
    auto second = m_engine->open_page(m_states[1], true);
    EXPECT_NE(second->main_frame_id(), m_first->main_frame_id());
    EXPECT_EQ(new_folders(), std::set{m_folder});
    m_first.reset();
    second.reset();
    // The Firefox waits a moment for the next page rather than ending with the last.
    auto third = m_engine->open_page(m_states[2], true);
    EXPECT_EQ(new_folders(), std::set{m_folder});
    third.reset();
    m_engine.reset();
    EXPECT_TRUE(gone_soon(m_folder));
}

TEST_F(FirefoxEngineUnderWineTest, AHostFirefoxThatDiesFailsItsPagesAndTheNextPageStartsAFreshOne)
{
    ASSERT_NO_FATAL_FAILURE(open_first_page());
    int pid = 0;
    std::ifstream(m_folder / "pid") >> pid;  // the shell's, which execs Firefox
    ASSERT_GT(pid, 0);
    WineHostProgram killer("varne-test-kill-");
    killer.start("exec /bin/kill -KILL " + std::to_string(pid));
    for (int i = 0; i < 300 && !m_first->connection_lost(); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(m_first->connection_lost());

    auto second = m_engine->open_page(m_states[1], true);
    const auto started = new_folders();
    EXPECT_EQ(started.size(), 2u) << "the dead Firefox's folder goes with its last page";
    m_first.reset();
    second.reset();
    m_engine.reset();
    for (const auto& folder : started)
        EXPECT_TRUE(gone_soon(folder)) << folder;
}

TEST_F(FirefoxEngineUnderWineTest, HeadlessPagesShareOneFirefoxOfAWindowsProgramThatEndsWithTheEngine)
{
    const auto before = profiles();
    const Variables variables{{"VARNE_FIREFOX", helper_path(L"host_firefox.exe").string()}};
    m_engine.emplace(environment_of(variables));
    auto first = m_engine->open_page(m_states[0], true);
    auto second = m_engine->open_page(m_states[1], true);
    EXPECT_NE(second->main_frame_id(), first->main_frame_id());
    const auto started = added(profiles(), before);  // the profile's folder and its lock
    EXPECT_EQ(std::ranges::count_if(started, [](const auto& path) { return std::filesystem::is_directory(path); }), 1);
    first.reset();
    second.reset();
    m_engine.reset();
    for (const auto& folder : started)
        EXPECT_TRUE(gone_soon(folder)) << folder;
}

}  // namespace
}  // namespace varne::bidi
