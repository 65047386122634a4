#include "records/logging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/system.h"
#include "tests/support/disk_files.h"
#include "tests/support/posix/posix_disk.h"
#include "tests/support/manual_clock.h"

namespace varne {
namespace {

namespace fs = std::filesystem;

using testing::read_bytes;

// The log through the real file layer, in a folder of the test's own.
class LoggingOnDiskTest : public ::testing::Test {
protected:
    BStr name(const std::string& file) const { return folder.name(file); }

    testing::TemporaryFolder folder{"varne-logging-"};
    testing::ManualClock clock{{2026, 3, 1, 8, 0, 0}};
};

TEST_F(LoggingOnDiskTest, EntriesOutliveAProcessThatDies)
{
    EXPECT_DEATH(
        {
            auto log = make_object<Logging>(system_file_system(), clock);
            log->StartLog(name("crash.log"));
            log->AppendLog(u"before the crash");
            std::abort();
        },
        "");
    EXPECT_EQ(read_bytes(folder / "crash.log"), "Log file started at 08:00:00 01/Mar/2026\r\n" + std::string(96, '=') +
                                                    "\r\n\r\n08:00:00 01/Mar/2026:\r\nbefore the crash\r\n\r\n");
}

TEST_F(LoggingOnDiskTest, NamesTheFileThatCannotBeMadeOrWritten)
{
    auto log = make_object<Logging>(system_file_system(), clock);
    const std::string missing = (folder / "missing" / "run.log").string();
    try {
        log->StartLog(from_utf8(missing));
        FAIL() << "a log was started in a missing folder";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 76);
        EXPECT_EQ(error.description(), "Path not found: cannot create '" + missing + "' (No such file or directory)");
    }
    try {
        log->StartLog(from_utf8(folder.string()));
        FAIL() << "a log was started on a folder";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 75);
        EXPECT_EQ(error.description(),
                  "Path/File access error: cannot create '" + folder.string() + "' (Is a directory)");
    }
    try {
        log->StartLog(u"/dev/full");
        FAIL() << "a header was written to a full device";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 61);
        EXPECT_EQ(error.description(), "Disk full: cannot write to '/dev/full' (No space left on device)");
    }
    EXPECT_EQ(log->IsOpen(), 0);
    EXPECT_EQ(log->StartLog(name("run.log")), 0);
}

// Appends entries of 1000 characters until the file refuses one; the log must then end with whole entries.
void fill_log(Clock& clock, const BStr& file, int32_t number, const std::string& description)
{
    auto log = make_object<Logging>(system_file_system(), clock);
    ASSERT_EQ(log->StartLog(file), 0);
    const std::string header = read_bytes(to_utf8(file));
    const std::string entry = "08:00:00 01/Mar/2026:\r\n" + std::string(1000, 'x') + "\r\n\r\n";
    size_t written = 0;
    try {
        for (; written < 1000; ++written)
            log->AppendLog(BStr(1000, u'x'));
        FAIL() << "the file took 1 MB";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), number);
        EXPECT_EQ(error.description(), description);
    }
    EXPECT_GT(written, 0u);
    std::string whole = header;
    for (size_t i = 0; i < written; ++i)
        whole += entry;
    EXPECT_EQ(read_bytes(to_utf8(file)), whole);
    EXPECT_EQ(log->IsOpen(), -1);
}

TEST_F(LoggingOnDiskTest, AFullDiskLeavesWholeEntries)
{
    fs::create_directory(folder / "small");
    testing::SmallDisk disk(folder / "small", 16 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "only root can mount a small file system";
    const std::string file = (folder / "small" / "run.log").string();
    fill_log(clock, from_utf8(file), 61, "Disk full: cannot write to '" + file + "' (No space left on device)");
}

TEST_F(LoggingOnDiskTest, AWriteCutShortByTheFileSizeLimitLeavesWholeEntries)
{
    // The limit makes the kernel take part of a write and refuse the rest, as a failing device would.
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 10 * 1024 + 500;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string file = (folder / "limited.log").string();
    fill_log(clock, from_utf8(file), 57, "Device I/O error: cannot write to '" + file + "' (File too large)");
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
}

// A log that one process holds open cannot be started again by another, as a file held open by
// another program cannot be created again on Windows: every entry of the first log stays.
TEST_F(LoggingOnDiskTest, ALogThatAnotherProcessHoldsOpenIsNotStartedAgain)
{
    const std::string header = "Log file started at 08:00:00 01/Mar/2026\r\n" + std::string(96, '=') + "\r\n\r\n";
    auto log = make_object<Logging>(system_file_system(), clock);
    ASSERT_EQ(log->StartLog(name("shared.log")), 0);
    EXPECT_EQ(log->AppendLog(u"first"), 0);

    const std::string refusal = "Permission denied: cannot create '" + (folder / "shared.log").string() +
                                "' (it is open in another program or object)";
    // The child answers 0 when its StartLog raised the refusal and left it closed, 1 otherwise.
    int child = testing::run_in_child([&] {
        auto other = make_object<Logging>(system_file_system(), clock);
        try {
            other->StartLog(name("shared.log"));
        } catch (const AutomationError& error) {
            ::_exit(error.number() == 70 && error.description() == refusal && other->IsOpen() == 0 ? 0 : 1);
        }
        ::_exit(1);
    });
    EXPECT_EQ(child, 0);

    // Another object of this process is refused alike.
    auto other = make_object<Logging>(system_file_system(), clock);
    try {
        other->StartLog(name("shared.log"));
        ADD_FAILURE() << "a log held open was started again";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 70);
        EXPECT_EQ(error.description(), refusal);
    }
    EXPECT_EQ(other->GetLogName(), u"");

    EXPECT_EQ(log->AppendLog(u"second"), 0);
    log->EndLog();
    const std::string entry = "08:00:00 01/Mar/2026:\r\n";
    EXPECT_EQ(read_bytes(folder / "shared.log"),
              header + entry + "first\r\n\r\n" + entry + "second\r\n\r\n\r\n" + std::string(96, '=') +
                  "\r\nLog file closed at 08:00:00 01/Mar/2026\r\nLog file run time: 0 days 00:00:00\r\n");

    // Once ended, the log may be started again, from another process too.
    EXPECT_EQ(testing::run_in_child([&] {
                  ::_exit(make_object<Logging>(system_file_system(), clock)->StartLog(name("shared.log")) == 0 ? 0 : 1);
              }),
              0);
    EXPECT_EQ(read_bytes(folder / "shared.log"), header);
}

TEST_F(LoggingOnDiskTest, NamesUpToTheFileSystemLimitLog)
{
    auto log = make_object<Logging>(system_file_system(), clock);
    const std::string file(255, 'n');
    EXPECT_EQ(log->StartLog(name(file)), 0);
    log->EndLog();
    EXPECT_TRUE(read_bytes(folder / file).ends_with("Log file run time: 0 days 00:00:00\r\n"));
}

}  // namespace
}  // namespace varne
