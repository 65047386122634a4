#include "platform/firefox/windows/windows_firefox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frame/automation_error.h"
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

}  // namespace
}  // namespace varne::bidi
