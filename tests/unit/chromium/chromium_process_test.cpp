#include "platform/chromium/chromium_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include "platform/chromium/browser_switches.h"
#include "tests/support/disk_files.h"
#include "tests/support/fake_environment.h"
#include "tests/support/posix/posix_processes.h"

namespace varne::cdp {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Speaks just enough of the protocol on descriptors 3 and 4 to be launched and closed, and reports
// how it was started. With an argument it first starts a child that would outlive it.
constexpr const char* kFakeBrowser = R"(#!/usr/bin/python3
import json, os, subprocess, sys
child = subprocess.Popen(["sleep", "60"]).pid if "--leave-child" in sys.argv else 0
pending = b""
while True:
    chunk = os.read(3, 65536)
    if not chunk:
        sys.exit(0)
    pending += chunk
    while b"\0" in pending:
        text, _, pending = pending.partition(b"\0")
        command = json.loads(text)
        result = {}
        if command["method"] == "Browser.getVersion":
            result = {"product": "Fake/1", "argv": sys.argv, "child": child,
                      "fds": [int(fd) for fd in os.listdir("/proc/self/fd")],
                      "stdin": os.readlink("/proc/self/fd/0")}
        os.write(4, json.dumps({"id": command["id"], "result": result}).encode() + b"\0")
        if command["method"] == "Browser.close":
            sys.exit(0)
)";

class ChromiumProcessTest : public ::testing::Test {
protected:
    // Writes an executable script and makes it the browser that launch() starts.
    std::string use_browser(const std::string& name, const std::string& text)
    {
        const auto path = m_scripts.add(name, text);
        m_environment["VARNE_CHROMIUM"] = path.string();
        return path.string();
    }

    std::string launch_error(const ChromiumLaunchOptions& options = {})
    {
        try {
            ChromiumProcess::launch(testing::environment_of(m_environment), options);
        } catch (const AutomationError& error) {
            EXPECT_EQ(error.number(), error_number::kServerUnavailable);
            return error.description();
        }
        ADD_FAILURE() << "the browser started";
        return {};
    }

    testing::ScriptFolder m_scripts;
    testing::Variables m_environment;
};

TEST_F(ChromiumProcessTest, StartsTheBrowserOnThePipeWithAFreshProfileAndLeavesNothingBehind)
{
    use_browser("fake-browser", kFakeBrowser);
    // A descriptor this program forgot to mark close-on-exec must not reach the browser.
    const int leaked = ::fcntl(::open("/dev/null", O_RDONLY), F_DUPFD, 50);
    ASSERT_GE(leaked, 50);

    ChromiumLaunchOptions options;
    options.extra_args = {"--leave-child", "--proxy-server=127.0.0.1:9"};
    auto browser = ChromiumProcess::launch(testing::environment_of(m_environment), options);
    ::close(leaked);

    const Json& version = browser->version();
    EXPECT_EQ(version["product"], "Fake/1");
    EXPECT_EQ(version["stdin"], "/dev/null");
    const auto fds = version["fds"].get<std::vector<int>>();
    EXPECT_TRUE(std::find(fds.begin(), fds.end(), leaked) == fds.end());
    EXPECT_TRUE(std::find(fds.begin(), fds.end(), 3) != fds.end());
    EXPECT_TRUE(std::find(fds.begin(), fds.end(), 4) != fds.end());

    // The library's own switches first, then the profile, then the caller's.
    std::vector<std::string> expected{kHeadlessSwitch};
    expected.insert(expected.end(), kBrowserSwitches.begin(), kBrowserSwitches.end());
    expected.insert(expected.end(), {"--user-data-dir=" + (browser->folder() / "profile").string(), "--leave-child",
                                     "--proxy-server=127.0.0.1:9"});
    if (::geteuid() == 0)
        expected.insert(expected.begin(), "--no-sandbox");
    auto argv = version["argv"].get<std::vector<std::string>>();
    argv.erase(argv.begin());
    EXPECT_EQ(argv, expected);

    const auto folder = browser->folder();
    const pid_t child = version["child"];
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    browser->close();
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(testing::process_alive(browser->pid()));
    EXPECT_FALSE(testing::process_alive(child));
}

TEST_F(ChromiumProcessTest, ABrowserThatCannotStartSaysWhy)
{
    m_environment["VARNE_CHROMIUM"] = (m_scripts.path() / "missing").string();
    EXPECT_EQ(launch_error(),
              "Cannot start Chromium (" + (m_scripts.path() / "missing").string() + "): No such file or directory");

    const auto exits =
        use_browser("exits", "#!/bin/sh\necho 'loading'\necho 'Missing X server or $DISPLAY' >&2\nexit 3\n");
    EXPECT_EQ(launch_error(),
              "Chromium (" + exits +
                  ") exited at start with status 3; its log ends: loading | Missing X server or $DISPLAY");

    const auto crashes = use_browser("crashes", "#!/bin/sh\nkill -SEGV $$\n");
    EXPECT_EQ(launch_error(), "Chromium (" + crashes + ") was killed at start by signal 11 (Segmentation fault)");

    const auto silent = use_browser("silent", "#!/bin/sh\necho 'waiting'\nexec sleep 60\n");
    ChromiumLaunchOptions impatient;
    impatient.start_timeout = 100ms;
    EXPECT_EQ(launch_error(impatient),
              "Chromium (" + silent + ") did not answer within 100 ms of its start; its log ends: waiting");
}

}  // namespace
}  // namespace varne::cdp
