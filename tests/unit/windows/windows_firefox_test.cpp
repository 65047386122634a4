#include "platform/firefox/windows/windows_firefox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "frame/automation_error.h"
#include "platform/transport/wine_host_program.h"

namespace varne::bidi {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kServerUnavailable = -2147023174;

std::filesystem::path helper_path(const std::wstring& name)
{
    wchar_t program[MAX_PATH];
    return std::filesystem::path(std::wstring(program, GetModuleFileNameW(nullptr, program, MAX_PATH))).parent_path() /
           name;
}

std::set<std::filesystem::path> profiles()
{
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
        if (entry.path().filename().string().starts_with("varne-profile-"))
            found.insert(entry.path());
    }
    return found;
}

// An environment of the test's own, in which VARNE_FIREFOX names `program` (when not empty).
EnvironmentLookup firefox_named(const std::filesystem::path& program)
{
    auto variables = std::make_shared<std::map<std::string, std::string>>();
    if (!program.empty())
        (*variables)["VARNE_FIREFOX"] = program.string();
    return [variables](const char* name) -> const char* {
        const auto found = variables->find(name);
        return found == variables->end() ? nullptr : found->second.c_str();
    };
}

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
class WindowsFirefoxStartTest : public testing::Test {
protected:
    void TearDown() override { SetEnvironmentVariableW(L"STAND_IN_MODE", nullptr); }

    static AutomationError start_error(const wchar_t* mode, std::chrono::milliseconds listen_timeout)
    {
        SetEnvironmentVariableW(L"STAND_IN_MODE", mode);
        return launch_error(firefox_named(m_stand_in), listen_timeout);
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
    const AutomationError error = launch_error(firefox_named("C:\\no\\such\\firefox.exe"));
    EXPECT_EQ(error.number(), kServerUnavailable);
    EXPECT_TRUE(error.description().starts_with("Cannot start the browser C:\\no\\such\\firefox.exe (error "))
        << error.description();
}

// App Paths keys that the test writes under HKCU and removes again.
class FirefoxAppPathsTest : public testing::Test {
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
};

TEST_F(FirefoxAppPathsTest, WithoutVarneFirefoxNothingIsStartedUnlessAppPathsNamesFirefox)
{
    ASSERT_EQ(installed_firefox(), std::nullopt) << "this prefix has a Firefox of its own";
    const AutomationError error = launch_error(firefox_named({}));
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
    const AutomationError error = launch_error(firefox_named({}));
    SetEnvironmentVariableW(L"STAND_IN_MODE", nullptr);
    EXPECT_EQ(error.description(), "Firefox (" + m_firefox.string() + ") exited at start with status 7");
}

// The host's Firefox, reached through host_firefox.exe, which Wine starts as a Windows program.
TEST(WindowsFirefoxUnderWineTest, TheHostsFirefoxAnswersInAProfileWithThePrefsAndLeavesNothingBehind)
{
    if (!running_under_wine() || !std::filesystem::exists("Z:\\usr\\bin\\firefox-esr"))
        GTEST_SKIP() << "needs Wine and the host's firefox-esr";
    const auto before = profiles();
    auto firefox = WindowsFirefox::launch(firefox_named(helper_path(L"host_firefox.exe")), true);
    const std::filesystem::path folder = firefox->folder();
    std::stringstream prefs;
    prefs << std::ifstream(folder / "user.js").rdbuf();
    EXPECT_NE(prefs.str().find("user_pref(\"app.update.disabledForTesting\", true);"), std::string::npos)
        << prefs.str();
    const auto tree = firefox->session().send("browsingContext.getTree", nlohmann::json::object(), 30s);
    EXPECT_EQ(tree["contexts"].size(), 1u) << tree.dump();
    EXPECT_FALSE(firefox->window_on_this_machine());

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
