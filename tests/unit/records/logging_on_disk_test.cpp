#include "records/logging.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/services.h"
#include "tests/support/disk_files.h"
#include "tests/support/manual_clock.h"

namespace varne {
namespace {

namespace fs = std::filesystem;

using testing::read_bytes;

// The log through the real file layer, in a folder of the test's own.
class LoggingOnDiskTest : public ::testing::Test {
protected:
    LoggingOnDiskTest()
        : folder(fs::temp_directory_path() / ("varne-logging-" + std::to_string(std::random_device()())))
    {
        fs::create_directories(folder);
    }
    ~LoggingOnDiskTest() override { fs::remove_all(folder); }

    BStr name(const std::string& file) const { return from_utf8((folder / file).string()); }

    fs::path folder;
    testing::ManualClock clock{{2026, 3, 1, 8, 0, 0}};
    ScopedServices scope{{.clock = &clock}};
};

TEST_F(LoggingOnDiskTest, EntriesOutliveAProcessThatDies)
{
    EXPECT_DEATH(
        {
            auto log = make_object<Logging>();
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
    auto log = make_object<Logging>();
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

}  // namespace
}  // namespace varne
