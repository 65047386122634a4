#include "records/logging.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tests/support/automation_errors.h"
#include "tests/support/disk_files.h"
#include "tests/support/manual_clock.h"
#include "tests/support/memory_file_system.h"

namespace varne {
namespace {

using testing::ManualClock;
using testing::MemoryFileSystem;
using testing::raised;
using testing::read_bytes;

const std::string kRule(96, '=');

std::string crlf_lines(std::initializer_list<std::string_view> lines)
{
    std::string text;
    for (auto line : lines)
        text.append(line).append("\r\n");
    return text;
}

AutomationError disk_full()
{
    return AutomationError(61, "Disk full: cannot write to 'run.log' (No space left on device)");
}

class LoggingTest : public ::testing::Test {
protected:
    std::string log_file(const BStr& name = u"run.log") { return files.file(name).value_or("<no file>"); }

    ManualClock clock{{1999, 9, 7, 14, 5, 9}};
    MemoryFileSystem files;
    Ref<Logging> log = make_object<Logging>(files, clock);
};

TEST_F(LoggingTest, WritesTheGoldenLayout)
{
    ASSERT_EQ(log->StartLog(u"run.log"), 0);
    clock.advance(3);
    ASSERT_EQ(log->AppendLog(u"Browser set to \"http://127.0.0.1:8080/\" [0 days 00:00:03]"), 0);
    clock.advance(724);
    ASSERT_EQ(log->AppendLog(u""), 0);
    clock.advance(93784 - 727);
    log->EndLog();

    const std::string expected = read_bytes(VARNE_RECORDS_GOLDEN "/two_entries.log");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(log_file(), expected);
    EXPECT_EQ(files.open_writers(), 0);
}

TEST_F(LoggingTest, LogWithoutEntriesHasSevenLinesAndTheSameStampsWithinASecond)
{
    log->StartLog(u"run.log");
    log->EndLog();
    EXPECT_EQ(log_file(),
              crlf_lines({"Log file started at 14:05:09 07/Sep/1999", kRule, "", "", kRule,
                          "Log file closed at 14:05:09 07/Sep/1999", "Log file run time: 0 days 00:00:00"}));
}

TEST_F(LoggingTest, DataIsWrittenAsItIs)
{
    const std::string megabyte(1 << 20, 'x');
    const std::pair<BStr, std::string> cases[] = {
        {u"two\r\nlines\nand\rmore", "two\r\nlines\nand\rmore"},
        {BStr(u"nul\0inside", 10), std::string("nul\0inside", 10)},
        {u"Grüße, 東京, 😀", "Grüße, 東京, 😀"},
        {u"lone \xD800 surrogate", "lone ? surrogate"},
        {from_utf8("read from caf\xe9.txt \xff"), "read from caf\xe9.txt \xff"},
        {from_utf8(megabyte), megabyte},
    };
    for (const auto& [data, bytes] : cases) {
        log->StartLog(u"run.log");
        ASSERT_EQ(log->AppendLog(data), 0);
        EXPECT_EQ(log_file(), crlf_lines({"Log file started at 14:05:09 07/Sep/1999", kRule, "",
                                          "14:05:09 07/Sep/1999:", bytes, ""}));
        log->EndLog();
    }
}

TEST_F(LoggingTest, ResultCodesLeaveTheStateAlone)
{
    EXPECT_EQ(log->IsOpen(), 0);
    EXPECT_EQ(log->AppendLog(u"nothing open"), -1);
    log->EndLog();
    EXPECT_EQ(log->StartLog(u""), -1);
    EXPECT_EQ(files.write_line_calls(), 0);
    EXPECT_FALSE(files.file(u"").has_value());

    ASSERT_EQ(log->StartLog(u"first.log"), 0);
    EXPECT_EQ(log->IsOpen(), -1);
    EXPECT_EQ(log->StartLog(u""), -1);
    EXPECT_EQ(log->StartLog(u"second.log"), -2);
    EXPECT_EQ(log->GetLogName(), u"first.log");
    EXPECT_FALSE(files.file(u"second.log").has_value());

    clock.advance(2);
    log->EndLog();
    const std::string finished = log_file(u"first.log");
    log->EndLog();
    EXPECT_EQ(log_file(u"first.log"), finished);
    EXPECT_TRUE(finished.ends_with("Log file run time: 0 days 00:00:02\r\n"));
    EXPECT_EQ(log->IsOpen(), 0);
    EXPECT_EQ(log->GetLogName(), u"");
}

TEST_F(LoggingTest, StartReplacesAnExistingFileAndRestartsTheRunTime)
{
    files.put_file(u"run.log", "old contents\r\n");
    log->StartLog(u"run.log");
    clock.advance(60);
    log->EndLog();

    clock.advance(3600);
    log->StartLog(u"run.log");
    clock.advance(5);
    log->EndLog();
    EXPECT_EQ(log_file(),
              crlf_lines({"Log file started at 15:06:09 07/Sep/1999", kRule, "", "", kRule,
                          "Log file closed at 15:06:14 07/Sep/1999", "Log file run time: 0 days 00:00:05"}));
}

TEST_F(LoggingTest, FileThatCannotBeMadeLeavesTheLogClosed)
{
    files.create_folders(u"logs");
    files.set_read_only(u"locked.log");
    const std::pair<BStr, std::string> cases[] = {
        {u"missing/run.log", "Path not found: cannot create 'missing/run.log' (No such file or directory)"},
        {u"locked.log", "Permission denied: cannot create 'locked.log' (Permission denied)"},
        {u"logs", "Path/File access error: cannot create 'logs' (it is a folder)"},
    };
    const int32_t numbers[] = {76, 70, 75};
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto error = raised([&] { log->StartLog(cases[i].first); });
        EXPECT_EQ(error.number(), numbers[i]);
        EXPECT_EQ(error.description(), cases[i].second);
        EXPECT_EQ(log->IsOpen(), 0);
        EXPECT_EQ(log->GetLogName(), u"");
        EXPECT_EQ(log->AppendLog(u"lost"), -1);
    }
    EXPECT_EQ(log->StartLog(u"logs/run.log"), 0);
    EXPECT_EQ(log->GetLogName(), u"logs/run.log");
}

TEST_F(LoggingTest, FailedHeaderLeavesTheLogClosedAndNoPartOfIt)
{
    // Room for the header's first line, not for all of it.
    files.set_free_space(50);
    auto error = raised([&] { log->StartLog(u"run.log"); });
    EXPECT_EQ(error.number(), 61);
    EXPECT_EQ(error.description(), "Disk full: cannot write to 'run.log' (No space left on device)");
    EXPECT_EQ(log->IsOpen(), 0);
    EXPECT_EQ(log_file(), "");

    files.set_free_space(1000);
    EXPECT_EQ(log->StartLog(u"other.log"), 0);
    EXPECT_EQ(files.open_writers(), 1);
}

TEST_F(LoggingTest, FailedEntryLeavesNoPartOfItAndTheLogOpen)
{
    log->StartLog(u"run.log");
    const std::string header = log_file();
    files.fail_write(1, disk_full());
    EXPECT_EQ(raised([&] { log->AppendLog(u"lost"); }).number(), 61);
    EXPECT_EQ(log->IsOpen(), -1);
    EXPECT_EQ(log_file(), header);

    EXPECT_EQ(log->AppendLog(u"kept"), 0);
    EXPECT_EQ(log_file(), header + crlf_lines({"14:05:09 07/Sep/1999:", "kept", ""}));
}

TEST_F(LoggingTest, AFullDiskLeavesTheLogEndingWithWholeEntries)
{
    log->StartLog(u"run.log");
    log->AppendLog(u"first");
    const std::string whole = log_file();
    // Room for the next entry's timestamp line, not for all of it.
    files.set_free_space(40);
    auto error = raised([&] { log->AppendLog(u"a step whose entry does not fit"); });
    EXPECT_EQ(error.number(), 61);
    EXPECT_EQ(error.description(), "Disk full: cannot write to 'run.log' (No space left on device)");
    EXPECT_EQ(log_file(), whole);
    EXPECT_EQ(raised([&] { log->EndLog(); }).number(), 61);
    EXPECT_EQ(log_file(), whole);
    EXPECT_EQ(log->IsOpen(), -1);
}

TEST_F(LoggingTest, FailedFooterOrCloseKeepsTheLogOpen)
{
    log->StartLog(u"run.log");
    log->AppendLog(u"step");
    const std::string entries = log_file();
    // Room for the footer's rule, not for the lines of times after it.
    files.set_free_space(120);
    EXPECT_EQ(raised([&] { log->EndLog(); }).number(), 61);
    EXPECT_EQ(log->IsOpen(), -1);
    EXPECT_EQ(log->GetLogName(), u"run.log");
    EXPECT_EQ(log_file(), entries);

    files.set_free_space(1000);
    files.fail_next_close(AutomationError(57, "Device I/O error: cannot write to 'run.log' (Input/output error)"));
    auto error = raised([&] { log->EndLog(); });
    EXPECT_EQ(error.number(), 57);
    EXPECT_EQ(log->IsOpen(), -1);

    log->EndLog();
    EXPECT_EQ(log->IsOpen(), 0);
    EXPECT_EQ(files.open_writers(), 0);
}

TEST_F(LoggingTest, ReleaseEndsAnOpenLogWithItsFooter)
{
    {
        Ref<Dispatch> object = make_object<Logging>(files, clock);
        auto* logging = dynamic_cast<_Logging*>(object.get());
        ASSERT_NE(logging, nullptr);
        logging->StartLog(u"run.log");
        clock.advance(61);
        logging->AppendLog(u"step");
    }
    EXPECT_TRUE(log_file().ends_with(crlf_lines(
        {"step", "", "", kRule, "Log file closed at 14:06:10 07/Sep/1999", "Log file run time: 0 days 00:01:01"})));
    EXPECT_EQ(files.open_writers(), 0);
}

TEST_F(LoggingTest, ReleaseSwallowsAFailingFooter)
{
    {
        auto doomed = make_object<Logging>(files, clock);
        doomed->StartLog(u"run.log");
        files.fail_write(1, disk_full());
    }
    EXPECT_EQ(log_file(), crlf_lines({"Log file started at 14:05:09 07/Sep/1999", kRule, ""}));
    EXPECT_EQ(files.open_writers(), 0);
}

}  // namespace
}  // namespace varne
