#include "platform/windows/win32_file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "platform/module.h"
#include "platform/windows/system_clock.h"
#include "tests/support/automation_errors.h"
#include "tests/support/disk_files.h"

namespace varne {
namespace {

using testing::raised;
using testing::read_bytes;

// A fresh folder under %TEMP%, removed with everything in it.
class Scratch {
public:
    Scratch()
    {
        std::random_device entropy;
        m_path = std::filesystem::temp_directory_path() / ("varne-win32-" + std::to_string(entropy()));
        std::filesystem::create_directories(m_path);
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path / "locked.txt", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    std::filesystem::path path(const char* name) const { return m_path / name; }
    BStr name(const char* name) const { return path(name).u16string(); }

private:
    std::filesystem::path m_path;
};

class Win32FileSystemTest : public ::testing::Test {
protected:
    Win32FileSystem files;
    Scratch scratch;
};

TEST_F(Win32FileSystemTest, LinesAreAnsiTextEndedByCrLf)
{
    ASSERT_EQ(GetACP(), 1252u) << "the expected bytes are those of Windows-1252";
    auto writer = files.create_file(scratch.name("log.txt"));
    writer->write_line(u"caf\u00e9 \u20ac");
    writer->write_line(u"\u65e5");
    writer->close();
    EXPECT_EQ(read_bytes(scratch.path("log.txt")), "caf\xE9 \x80\r\n?\r\n");
    EXPECT_EQ(files.read_all_text(scratch.name("log.txt")), u"caf\u00e9 \u20ac\r\n?\r\n");
}

TEST_F(Win32FileSystemTest, FailuresCarryThePosixAdaptersNumbers)
{
    EXPECT_EQ(raised([&] { files.read_all_text(scratch.name("missing.txt")); }).number(), 53);
    AutomationError no_folder = raised([&] { files.read_all_text(scratch.name("no\\such\\file.txt")); });
    EXPECT_EQ(no_folder.number(), 76);
    EXPECT_EQ(no_folder.description().rfind("Path not found: cannot open '", 0), 0u) << no_folder.description();
    EXPECT_EQ(raised([&] { files.create_file(scratch.name("no/such/file.txt")); }).number(), 76);
    std::filesystem::create_directory(scratch.path("folder"));
    EXPECT_EQ(raised([&] { files.read_all_text(scratch.name("folder")); }).number(), 75);
    EXPECT_EQ(raised([&] { files.create_file(scratch.name("folder")); }).number(), 75);
    EXPECT_EQ(raised([&] { files.replace_file(scratch.name("folder")); }).number(), 75);
    EXPECT_EQ(raised([&] { files.replace_file(scratch.name("folder\\")); }).number(), 52);
    EXPECT_EQ(raised([&] { files.replace_file(u""); }).number(), 52);
    EXPECT_EQ(raised([&] { files.create_file(scratch.name("bad") + u'\0' + u"name"); }).number(), 52);
    EXPECT_EQ(raised([&] { files.delete_file(scratch.name("missing.txt")); }).number(), 53);
    EXPECT_FALSE(files.file_exists(scratch.name("folder")));
    EXPECT_FALSE(files.file_exists(scratch.name("missing.txt")));
}

TEST_F(Win32FileSystemTest, AReadOnlyFileIsRefusedAtOnceAndKept)
{
    testing::write_bytes(scratch.path("locked.txt"), "old");
    std::filesystem::permissions(scratch.path("locked.txt"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(raised([&] { files.replace_file(scratch.name("locked.txt")); }).number(), 70);
    EXPECT_EQ(raised([&] { files.create_file(scratch.name("locked.txt")); }).number(), 70);
    EXPECT_EQ(raised([&] { files.delete_file(scratch.name("locked.txt")); }).number(), 70);
    EXPECT_EQ(read_bytes(scratch.path("locked.txt")), "old");
}

TEST_F(Win32FileSystemTest, ReplacementTakesPlaceOnCloseAndADroppedWriterLeavesNothing)
{
    testing::write_bytes(scratch.path("settings.cfg"), "old\r\n");
    {
        auto writer = files.replace_file(scratch.name("settings.cfg"));
        writer->write_line(u"new");
        EXPECT_EQ(read_bytes(scratch.path("settings.cfg")), "old\r\n");
        writer->close();
    }
    EXPECT_EQ(read_bytes(scratch.path("settings.cfg")), "new\r\n");
    {
        auto writer = files.replace_file(scratch.name("settings.cfg"));
        writer->write_line(u"lost");
    }
    EXPECT_EQ(read_bytes(scratch.path("settings.cfg")), "new\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path("")), {}), 1);
}

TEST_F(Win32FileSystemTest, FoldersAreMadeAtEitherSeparator)
{
    files.create_folders(scratch.name("a\\b/c"));
    files.create_folders(scratch.name("a\\b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path("a") / "b" / "c"));
    testing::write_bytes(scratch.path("plain"), "");
    EXPECT_EQ(raised([&] { files.create_folders(scratch.name("plain\\sub")); }).number(), 75);
}

TEST(WindowsClock, MonthNamesComeFromTheRegionalSettings)
{
    WindowsClock clock;
    std::set<BStr> names;
    for (int month = 1; month <= 12; ++month) {
        wchar_t expected[80];
        ASSERT_GT(GetLocaleInfoW(GetUserDefaultLCID(), LOCALE_SABBREVMONTHNAME1 + month - 1, expected, 80), 0);
        EXPECT_EQ(clock.month_abbreviation(month), BStr(expected, expected + wcslen(expected)));
        names.insert(clock.month_abbreviation(month));
    }
    EXPECT_EQ(names.size(), 12u);
}

TEST(WindowsClock, NowIsTheLocalTimeToTheSecond)
{
    WindowsClock clock;
    SYSTEMTIME before{};
    GetLocalTime(&before);
    double now = clock.now();
    CivilTime time = to_civil_time(now);
    EXPECT_EQ(time.year, before.wYear);
    EXPECT_EQ(time.month, before.wMonth);
    EXPECT_EQ(now, to_automation_date(time));
}

TEST(WindowsModule, TheLibraryPathIsTheFullPathOfTheFileThatHoldsIt)
{
    // Linked into this test program, the library's code lives in the program's own file.
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    EXPECT_EQ(library_file_path(), to_utf8(std::u16string(program, program + length)));
    EXPECT_TRUE(library_file_path().ends_with("windows_tests.exe"));
}

}  // namespace
}  // namespace varne
