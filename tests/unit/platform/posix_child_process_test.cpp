#include "platform/posix/child_process.h"

#include "frame/automation_error.h"
#include "tests/support/posix/posix_processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace varne::posix {
namespace {

using namespace std::chrono_literals;

std::string read_text(const std::filesystem::path& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Waits, bounded, for `done`; the test then checks it as usual.
template <class Condition>
void settle(Condition done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(5ms);
}

TEST(ChildProcess, GetsOnlyTheDescriptorsGivenInAGroupOfItsOwnWhichEndsWhole)
{
    testing::ScriptFolder folder;
    const auto output = folder.path() / "output";
    const int passed = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int kept = ::open("/dev/null", O_RDONLY);  // inheritable, yet not given
    // Reports its descriptors and its group, then leaves a grandchild in the group and waits.
    const auto script = folder.add("child", "#!/bin/sh\nls /proc/$$/fd | sort -n | tr '\\n' ' '; echo\n"
                                            "cut -d' ' -f5 /proc/$$/stat\nsleep 60 &\necho $!\nwait\n");
    ChildProcess child(spawn_child({.args = {script.string()}, .output = output, .descriptors = {passed}}, "test"));
    ::close(passed);
    ::close(kept);
    settle([&] {
        const std::string text = read_text(output);
        return std::count(text.begin(), text.end(), '\n') >= 3;
    });
    std::istringstream lines(read_text(output));
    std::string descriptors;
    pid_t group = 0;
    pid_t grandchild = 0;
    std::getline(lines, descriptors);
    lines >> group >> grandchild;
    EXPECT_EQ(descriptors.substr(0, 8), "0 1 2 3 ") << descriptors;  // ls itself holds one more
    EXPECT_EQ(group, child.pid());
    EXPECT_TRUE(testing::process_alive(grandchild));

    EXPECT_FALSE(child.wait_for_exit(0ms));
    child.end_group(5s);
    EXPECT_FALSE(testing::group_alive(child.pid()));
    EXPECT_TRUE(child.wait_for_exit(5s));
    EXPECT_EQ(child.exit_description(), "was killed at start by signal 9 (Killed)");
}

TEST(ChildProcess, SaysHowItEndedAndWhyItCouldNotStart)
{
    ChildProcess exited(spawn_child({.args = {"/bin/sh", "-c", "exit 3"}}, "test"));
    EXPECT_TRUE(exited.wait_for_exit(10s));
    EXPECT_EQ(exited.exit_description(), "exited at start with status 3");

    try {
        spawn_child({.args = {"/nonexistent/program"}}, "Cannot start the test's program");
        ADD_FAILURE() << "it started";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), error_number::kServerUnavailable);
        EXPECT_EQ(error.description(), "Cannot start the test's program: No such file or directory");
    }
}

TEST(ChildProcess, OneLetGoIsReapedOnceItEnds)
{
    ChildProcess child(spawn_child({.args = {"/bin/sleep", "0.2"}}, "test"));
    const pid_t pid = child.pid();
    child.let_go();
    EXPECT_EQ(child.pid(), 0);
    settle([&] {
        reap_let_go_children();
        return !std::filesystem::exists("/proc/" + std::to_string(pid));
    });
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid))) << "left a zombie";
}

}  // namespace
}  // namespace varne::posix
