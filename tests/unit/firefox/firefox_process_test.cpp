#include "platform/firefox/firefox_process.h"

#include <gtest/gtest.h>

#include "tests/support/fake_environment.h"
#include "tests/support/posix/posix_processes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace varne::bidi {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Reports how it was started into $FAKE_REPORT, leaves a child that would outlive it, then acts
// as its first argument after the script name says.
constexpr const char* kFakeFirefox = R"(#!/bin/sh
{ echo "args: $*"; echo "env: $MOZ_REMOTE_SETTINGS_DEVTOOLS"; cat "$5/user.js"; } > "$FAKE_REPORT"
sleep 60 &
echo $! > "$FAKE_REPORT.child"
case "$FAKE_MODE" in
  port-in-use) echo "RemoteAgent ERROR Unable to start the RemoteAgent: Failed to start HTTP server on port 9, closing"; exit 0;;
  silent) exec sleep 60;;
  nobody-listens) echo "WebDriver BiDi listening on ws://127.0.0.1:$FAKE_PORT" >&2; exec sleep 60;;
esac
)";

using testing::environment_of;
using testing::group_alive;
using testing::process_alive;

// The library reads its variables through the lookup; the fake browser reads its own (FAKE_*)
// from the environment that it inherits.
const testing::Variables kNoVariables;

class FirefoxProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("FAKE_REPORT", report().c_str(), 1); }

    void use_fake(const char* mode)
    {
        const auto path = m_scripts.add("firefox", kFakeFirefox);
        m_environment["VARNE_FIREFOX"] = path.string();
        ::setenv("FAKE_MODE", mode, 1);
    }

    std::filesystem::path report() const { return m_scripts.path() / "report"; }
    std::string report_text() const
    {
        std::ifstream file(report());
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    pid_t fake_child() const
    {
        pid_t pid = 0;
        std::ifstream(report().string() + ".child") >> pid;
        return pid;
    }

    AutomationError launch_error(const FirefoxLaunchOptions& options)
    {
        try {
            FirefoxProcess::launch(environment_of(m_environment), options);
        } catch (const AutomationError& error) {
            return error;
        }
        ADD_FAILURE() << "launch did not fail";
        return {0, ""};
    }

    testing::ScriptFolder m_scripts;
    testing::Variables m_environment;
};

TEST(FirefoxProfile, ReadsTheListenLineAndWritesEveryPrefOnce)
{
    EXPECT_EQ(bidi_listen_address("*** You are running in headless mode.\nWebDriver BiDi listening on "
                                  "ws://127.0.0.1:40123\nmore"),
              (std::pair<std::string, uint16_t>{"127.0.0.1", 40123}));
    EXPECT_FALSE(bidi_listen_address("WebDriver BiDi listening on ws://127.0.0.1:401"));  // line not whole yet
    EXPECT_FALSE(bidi_listen_address("WebDriver BiDi listening on ws://127.0.0.1:0\n"));
    EXPECT_FALSE(bidi_listen_address("WebDriver BiDi listening on ws://127.0.0.1:99999\n"));
    EXPECT_FALSE(bidi_listen_address("Read port 40123 from somewhere\n"));

    const std::string user_js = firefox_user_js();
    EXPECT_NE(user_js.find("user_pref(\"remote.retry-on-abort\", false);\n"), std::string::npos);
    EXPECT_NE(user_js.find("user_pref(\"dom.require_user_interaction_for_beforeunload\", false);\n"),
              std::string::npos);
    EXPECT_NE(user_js.find("user_pref(\"media.gmp-manager.url\", \"\");\n"), std::string::npos);
    EXPECT_NE(user_js.find("user_pref(\"services.settings.server\", \"data:,#remote-settings-dummy/v1\");\n"),
              std::string::npos);
    std::set<std::string_view> names;
    for (const auto& pref : firefox_profile_prefs())
        EXPECT_TRUE(names.insert(pref.name).second) << pref.name;
}

TEST_F(FirefoxProcessTest, StartsInAFreshQuietProfileAndReportsWhatAFirefoxThatExitsPrinted)
{
    use_fake("port-in-use");
    const AutomationError error = launch_error({.headless = true});

    EXPECT_EQ(error.number(), error_number::kServerUnavailable);
    EXPECT_EQ(error.description(), "Firefox (" + (m_scripts.path() / "firefox").string() +
                                       ") exited at start with status 0; it printed: RemoteAgent ERROR Unable to "
                                       "start the RemoteAgent: Failed to start HTTP server on port 9, closing");

    std::istringstream report(report_text());
    std::string args;
    std::getline(report, args);
    const auto profile =
        args.substr(args.find("--profile ") + 10, args.find(" about:blank") - args.find("--profile ") - 10);
    EXPECT_EQ(args, "args: --headless --remote-debugging-port=0 --no-remote --profile " + profile + " about:blank");
    EXPECT_FALSE(std::filesystem::exists(profile)) << "the profile is left behind";
    std::string environment;
    std::getline(report, environment);
    EXPECT_EQ(environment, "env: 1");
    const std::string rest{std::istreambuf_iterator<char>(report), std::istreambuf_iterator<char>()};
    EXPECT_EQ(rest, firefox_user_js());
    EXPECT_FALSE(process_alive(fake_child())) << "a process of its group outlived it";
}

TEST_F(FirefoxProcessTest, AFirefoxThatPrintsNoAddressOrCannotBeReachedEndsWithinItsBound)
{
    use_fake("silent");
    EXPECT_EQ(launch_error({.headless = true, .listen_timeout = 300ms}).description(),
              "Firefox (" + (m_scripts.path() / "firefox").string() +
                  ") printed no WebDriver BiDi address within 300 ms of its start");
    EXPECT_FALSE(process_alive(fake_child()));

    // A port that was free a moment ago: nobody listens there.
    use_fake("nobody-listens");
    ::setenv("FAKE_PORT", "1", 1);
    const std::string description = launch_error({.headless = true}).description();
    EXPECT_TRUE(description.starts_with("Firefox (" + (m_scripts.path() / "firefox").string() +
                                        ") could not be reached at ws://127.0.0.1:1/session: "))
        << description;
    EXPECT_FALSE(process_alive(fake_child()));
}

// The real program, when it is installed: a session that leaves dialogs open, and nothing left.
class RealFirefoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(FirefoxProcess::kDefaultExecutable, X_OK) != 0)
            GTEST_SKIP() << FirefoxProcess::kDefaultExecutable << " is not installed";
    }
};

TEST_F(RealFirefoxTest, OpensASessionThatLeavesDialogsAloneAndLeavesNothingBehind)
{
    auto firefox = FirefoxProcess::launch(environment_of(kNoVariables), {.headless = true});
    EXPECT_EQ(firefox->capabilities()["capabilities"]["unhandledPromptBehavior"], Json({{"default", "ignore"}}));
    const Json tree = firefox->session().send("browsingContext.getTree");
    ASSERT_EQ(tree["contexts"].size(), 1u);
    EXPECT_EQ(tree["contexts"][0]["url"], "about:blank");

    const pid_t pid = firefox->pid();
    const auto folder = firefox->folder();
    firefox->close();
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(group_alive(pid)) << "a process of Firefox's group is left";
}

TEST_F(RealFirefoxTest, SaysWhichStepTimedOutAndHowLongItWaited)
{
    const std::string description = [] {
        try {
            FirefoxProcess::launch(environment_of(kNoVariables), {.headless = true, .session_timeout = 1ms});
        } catch (const AutomationError& error) {
            return error.description();
        }
        return std::string("launch did not fail");
    }();
    EXPECT_TRUE(description.starts_with("Firefox (/usr/bin/firefox-esr) did not answer session.new within 1 ms (it "
                                        "answers once its start-up tasks have run)"))
        << description;
}

// Firefox outlives a client that dies and keeps its only session taken; the watchdog ends it.
// What a client that launched Firefox and then died reported: the browser's pid and folder.
struct DeadClient {
    pid_t pid = 0;
    std::string folder;
    bool shows_window = false;
};

DeadClient launch_in_a_client_that_dies(const testing::Variables& variables, const FirefoxLaunchOptions& options)
{
    int report[2];
    EXPECT_EQ(::pipe(report), 0);
    const pid_t client = ::fork();
    if (client == 0) {
        ::close(report[0]);
        auto firefox = FirefoxProcess::launch(environment_of(variables), options);
        const std::string text = std::to_string(firefox->pid()) + " " + firefox->folder().string() + " " +
                                 (firefox->shows_window() ? "window" : "headless");
        [[maybe_unused]] const auto written = ::write(report[1], text.data(), text.size());
        ::close(report[1]);
        ::raise(SIGKILL);
    }
    ::close(report[1]);
    std::string text(4096, '\0');
    text.resize(std::max<ssize_t>(0, ::read(report[0], text.data(), text.size())));
    ::close(report[0]);
    ::waitpid(client, nullptr, 0);
    std::istringstream fields(text);
    DeadClient dead;
    std::string kind;
    fields >> dead.pid >> dead.folder >> kind;
    dead.shows_window = kind == "window";
    return dead;
}

// The watchdog polls once a second; a minute covers a loaded machine.
void wait_until_gone(const DeadClient& dead)
{
    for (int i = 0; i < 600 && (group_alive(dead.pid) || std::filesystem::exists(dead.folder)); ++i)
        std::this_thread::sleep_for(100ms);
}

TEST_F(RealFirefoxTest, AClientThatDiesTakesItsHeadlessFirefoxAndProfileWithIt)
{
    const DeadClient dead = launch_in_a_client_that_dies(kNoVariables, {.headless = true});
    ASSERT_GT(dead.pid, 0);
    wait_until_gone(dead);
    EXPECT_FALSE(group_alive(dead.pid)) << "Firefox outlived its client";
    EXPECT_FALSE(std::filesystem::exists(dead.folder));
}

TEST_F(RealFirefoxTest, AHeadedWindowOutlivesItsClientAndItsProfileGoesOnceItIsClosed)
{
    const std::string number = std::to_string(150 + ::getpid() % 100);
    const pid_t xvfb = ::fork();
    if (xvfb == 0) {
        const std::string display = ":" + number;
        ::execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + number;
    for (int i = 0; i < 300 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(50ms);
    if (!std::filesystem::exists(socket)) {
        ::kill(xvfb, SIGTERM);
        ::waitpid(xvfb, nullptr, 0);
        GTEST_SKIP() << "Xvfb could not start";
    }
    // Firefox finds the display in the environment that it inherits.
    ::setenv("DISPLAY", (":" + number).c_str(), 1);

    const DeadClient dead = launch_in_a_client_that_dies({{"DISPLAY", ":" + number}}, {});
    if (dead.pid <= 0) {
        ::kill(xvfb, SIGTERM);
        ::waitpid(xvfb, nullptr, 0);
        FAIL() << "Firefox did not start with a window";
    }
    EXPECT_TRUE(dead.shows_window);
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(group_alive(dead.pid)) << "the window closed with its client";
    EXPECT_TRUE(std::filesystem::exists(dead.folder));

    // The person closes the window.
    ::kill(dead.pid, SIGTERM);
    wait_until_gone(dead);
    EXPECT_FALSE(std::filesystem::exists(dead.folder));
    ::killpg(dead.pid, SIGKILL);
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
    ::unsetenv("DISPLAY");
}

TEST(FirefoxSharingTest, EveryFirefoxStartedHereIsSharedHeadlessOrPerDisplay)
{
    const testing::Variables nothing;
    EXPECT_EQ(shared_firefox_key(environment_of(nothing), false), "headless /usr/bin/firefox-esr")
        << "without a display a headed Firefox is headless";
    const testing::Variables shown{{"DISPLAY", ":5"}, {"VARNE_FIREFOX", "/opt/firefox/firefox"}};
    EXPECT_EQ(shared_firefox_key(environment_of(shown), false), "headed :5 /opt/firefox/firefox");
    EXPECT_EQ(shared_firefox_key(environment_of(shown), true), "headless /opt/firefox/firefox");
    const testing::Variables elsewhere{{"DISPLAY", ":6"}, {"VARNE_FIREFOX", "/opt/firefox/firefox"}};
    EXPECT_NE(shared_firefox_key(environment_of(elsewhere), false), shared_firefox_key(environment_of(shown), false));
}

}  // namespace
}  // namespace varne::bidi
