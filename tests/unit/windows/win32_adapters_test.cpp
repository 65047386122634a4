#include "platform/files/system_file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "platform/module.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "records/logging.h"
#include "tests/support/automation_errors.h"
#include "tests/support/disk_files.h"

namespace varne {
namespace {

using testing::raised;
using testing::read_bytes;

// A fresh folder under %TEMP%, naming its files as the file system takes them.
class Scratch : public testing::TemporaryFolder {
public:
    Scratch() : TemporaryFolder("varne-win32-") {}
    BStr name(const char* name) const { return path(name).u16string(); }
};

class SystemFileSystemTest : public ::testing::Test {
protected:
    files::SystemFileSystem files;
    Scratch scratch;
};

TEST_F(SystemFileSystemTest, LinesAreAnsiTextEndedByCrLf)
{
    ASSERT_EQ(GetACP(), 1252u) << "the expected bytes are those of Windows-1252";
    auto writer = files.create_file(scratch.name("log.txt"));
    writer->write_line(u"caf\u00e9 \u20ac");
    writer->write_line(u"\u65e5");
    writer->close();
    EXPECT_EQ(read_bytes(scratch.path("log.txt")), "caf\xE9 \x80\r\n?\r\n");
    EXPECT_EQ(files.read_all_text(scratch.name("log.txt")), u"caf\u00e9 \u20ac\r\n?\r\n");
}

TEST_F(SystemFileSystemTest, BackslashesSeparateNamesAsSlashesDo)
{
    AutomationError no_folder = raised([&] { files.read_all_text(scratch.name("no\\such\\file.txt")); });
    EXPECT_EQ(no_folder.number(), 76);
    EXPECT_EQ(no_folder.description().rfind("Path not found: cannot open '", 0), 0u) << no_folder.description();
    std::filesystem::create_directory(scratch.path("folder"));
    EXPECT_EQ(raised([&] { files.replace_file(scratch.name("folder\\")); }).number(), 52);
}

TEST_F(SystemFileSystemTest, AReadOnlyFileIsNotDeleted)
{
    testing::write_bytes(scratch.path("locked.txt"), "old");
    std::filesystem::permissions(scratch.path("locked.txt"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(raised([&] { files.delete_file(scratch.name("locked.txt")); }).number(), 70);
    EXPECT_EQ(read_bytes(scratch.path("locked.txt")), "old");
}

size_t entries(const std::filesystem::path& folder)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

DWORD attributes(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.wstring().c_str());
}

TEST_F(SystemFileSystemTest, ASaveOfAHardLinkedFileReachesEveryLink)
{
    testing::write_bytes(scratch.path("settings.cfg"), "old\r\n");
    ASSERT_TRUE(CreateHardLinkW(scratch.path("other.cfg").wstring().c_str(),
                                scratch.path("settings.cfg").wstring().c_str(), nullptr));
    auto writer = files.replace_file(scratch.name("settings.cfg"));
    writer->write_line(u"new, and longer than the old");
    writer->close();
    EXPECT_EQ(read_bytes(scratch.path("settings.cfg")), "new, and longer than the old\r\n");
    EXPECT_EQ(read_bytes(scratch.path("other.cfg")), "new, and longer than the old\r\n");
    EXPECT_EQ(entries(scratch.path("")), 2u);
}

TEST_F(SystemFileSystemTest, ASaveKeepsTheAttributesOfTheFileAndGivesANewOneNoneOfItsOwn)
{
    testing::write_bytes(scratch.path("settings.cfg"), "old\r\n");
    ASSERT_TRUE(SetFileAttributesW(scratch.path("settings.cfg").wstring().c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    auto writer = files.replace_file(scratch.name("settings.cfg"));
    writer->write_line(u"new");
    writer->close();
    EXPECT_EQ(read_bytes(scratch.path("settings.cfg")), "new\r\n");
    EXPECT_EQ(attributes(scratch.path("settings.cfg")), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
    // The temporary file's hidden name must not make the saved file hidden.
    files.replace_file(scratch.name("fresh.cfg"))->close();
    EXPECT_EQ(attributes(scratch.path("fresh.cfg")), DWORD{FILE_ATTRIBUTE_ARCHIVE});
}

TEST_F(SystemFileSystemTest, NamesUpToTheFileSystemsLimitSaveInAFolderBeyondTheClassicPathLength)
{
    const std::string longest(255, 'n');
    std::filesystem::create_directories(scratch.path(std::string(100, 'd').c_str()));
    const std::filesystem::path file = scratch.path(std::string(100, 'd').c_str()) / longest;
    ASSERT_GT(file.wstring().size(), size_t{MAX_PATH});
    auto writer = files.replace_file(file.u16string());
    writer->write_line(u"saved");
    writer->close();
    EXPECT_EQ(read_bytes(file), "saved\r\n");
    writer = files.create_file(file.u16string());
    writer->write_line(u"logged");
    writer->close();
    EXPECT_EQ(files.read_all_text(file.u16string()), u"logged\r\n");
    EXPECT_EQ(entries(file.parent_path()), 1u);
}

using OwnedHandle = std::unique_ptr<void, decltype(&CloseHandle)>;

// A temporary file of a saver, as the README names it, last written two minutes ago.
OwnedHandle stale_temporary(const std::filesystem::path& path)
{
    OwnedHandle file(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr),
                     CloseHandle);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart -= 120ULL * 10'000'000;
    const FILETIME written{then.LowPart, then.HighPart};
    SetFileTime(file.get(), nullptr, nullptr, &written);
    return file;
}

TEST_F(SystemFileSystemTest, TheNextSaveRemovesTheTemporaryOfADeadSaverOnly)
{
    const auto dead = scratch.path(".varne-0123456789abcdef.tmp");
    const auto live = scratch.path(".varne-fedcba9876543210.tmp");
    stale_temporary(dead);
    OwnedHandle holder = stale_temporary(live);
    OVERLAPPED far_byte{};
    far_byte.Offset = 0xFFFFFFF0;
    far_byte.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(holder.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &far_byte));
    testing::write_bytes(scratch.path(".varne-not-ours.tmp"), "kept");
    files.replace_file(scratch.name("settings.cfg"))->close();
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_TRUE(std::filesystem::exists(live));
    EXPECT_TRUE(std::filesystem::exists(scratch.path(".varne-not-ours.tmp")));
    holder.reset();
    files.replace_file(scratch.name("settings.cfg"))->close();
    EXPECT_FALSE(std::filesystem::exists(live));
}

// Starts a helper program from beside this one with two file names, and waits until it has made
// the second to say that it is ready; an empty handle when it ended first.
OwnedHandle start_helper(const wchar_t* program_name, const std::filesystem::path& file,
                         const std::filesystem::path& ready)
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::filesystem::path helper = std::filesystem::path(program).parent_path() / program_name;
    std::wstring line = std::wstring(program_name) + L" \"" + file.wstring() + L"\" \"" + ready.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(helper.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return OwnedHandle(nullptr, CloseHandle);
    OwnedHandle running(process.hProcess, CloseHandle);
    CloseHandle(process.hThread);
    // A bound for a helper that hangs or fails, not a measure of speed.
    for (int wait = 0; wait < 300 && !std::filesystem::exists(ready); ++wait)
        if (WaitForSingleObject(running.get(), 100) == WAIT_OBJECT_0)
            break;
    if (!std::filesystem::exists(ready))
        return OwnedHandle(nullptr, CloseHandle);
    return running;
}

void end_helper(OwnedHandle& helper)
{
    TerminateProcess(helper.get(), 9);
    ASSERT_EQ(WaitForSingleObject(helper.get(), 10000), WAIT_OBJECT_0);
}

TEST_F(SystemFileSystemTest, ASaverKilledPartWayLeavesTheOldFileAndNothingElse)
{
    std::filesystem::create_directory(scratch.path("saves"));
    testing::write_bytes(scratch.path("saves") / "settings.cfg", "old\r\n");
    OwnedHandle saver = start_helper(L"saver_child.exe", scratch.path("saves") / "settings.cfg", scratch.path("ready"));
    ASSERT_TRUE(saver);
    EXPECT_EQ(entries(scratch.path("saves")), 2u) << "the save in progress has its file beside the old one";
    end_helper(saver);
    EXPECT_EQ(read_bytes(scratch.path("saves") / "settings.cfg"), "old\r\n");
    EXPECT_EQ(entries(scratch.path("saves")), 1u);
}

TEST_F(SystemFileSystemTest, ALogThatAnotherProcessHoldsOpenIsNotStartedAgain)
{
    OwnedHandle holder = start_helper(L"log_child.exe", scratch.path("shared.log"), scratch.path("ready"));
    ASSERT_TRUE(holder);
    auto log = make_object<Logging>(system_file_system(), system_clock());
    AutomationError refused = raised([&] { log->StartLog(scratch.name("shared.log")); });
    EXPECT_EQ(refused.number(), 70) << refused.description();
    EXPECT_EQ(refused.description().rfind("Permission denied: cannot create '", 0), 0u) << refused.description();
    EXPECT_EQ(log->IsOpen(), 0);
    end_helper(holder);
    EXPECT_TRUE(read_bytes(scratch.path("shared.log")).ends_with("\r\nheld by the child\r\n\r\n"));
    EXPECT_EQ(log->StartLog(scratch.name("shared.log")), 0);
    log->EndLog();
}

// A small file system that scripts/test-windows.sh mounts where it may; named by VARNE_TEST_SMALL_DISK.
class Win32FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* disk = std::getenv("VARNE_TEST_SMALL_DISK");
        if (!disk || !*disk)
            GTEST_SKIP() << "no small disk: VARNE_TEST_SMALL_DISK is not set";
        folder = std::filesystem::path(disk) / ("full-" + std::to_string(std::random_device()()));
        std::filesystem::create_directory(folder);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // Fills the disk but for about `room` bytes.
    void fill_but(size_t room)
    {
        std::string block(4096, 'f');
        auto filler = files.create_file((folder / "filler").u16string());
        try {
            for (;;)
                filler->write_bytes({reinterpret_cast<const uint8_t*>(block.data()), block.size()});
        } catch (const AutomationError&) {
        }
        filler->close();
        std::filesystem::resize_file(folder / "filler", std::filesystem::file_size(folder / "filler") - room);
    }

    files::SystemFileSystem files;
    std::filesystem::path folder;
};

TEST_F(Win32FullDiskTest, AnAppendThatDoesNotFitIsCutBackAndTheFileGoesOn)
{
    fill_but(8192);
    auto writer = files.create_file((folder / "run.log").u16string());
    writer->write_line(u"first");
    const std::string big(16384, 'b');
    AutomationError full = raised([&] {
        writer->write_bytes({reinterpret_cast<const uint8_t*>(big.data()), big.size()});
    });
    EXPECT_EQ(full.number(), 61) << full.description();
    EXPECT_EQ(full.description().rfind("Disk full: cannot write to '", 0), 0u) << full.description();
    writer->write_line(u"second");
    writer->close();
    EXPECT_EQ(read_bytes(folder / "run.log"), "first\r\nsecond\r\n");
}

TEST_F(Win32FullDiskTest, ASaveThatDoesNotFitLeavesTheOldFileAndNothingElse)
{
    testing::write_bytes(folder / "settings.cfg", "old\r\n");
    fill_but(4096);
    const size_t before = entries(folder);
    auto writer = files.replace_file((folder / "settings.cfg").u16string());
    const std::string line(1000, 's');
    AutomationError full = raised([&] {
        for (int i = 0; i < 64; ++i)
            writer->write_line(from_utf8(line));
        writer->close();
    });
    EXPECT_EQ(full.number(), 61) << full.description();
    writer.reset();
    EXPECT_EQ(read_bytes(folder / "settings.cfg"), "old\r\n");
    EXPECT_EQ(entries(folder), before);
}

TEST_F(Win32FullDiskTest, AWriteOverThatDoesNotFitPutsTheOldContentsBack)
{
    testing::write_bytes(folder / "settings.cfg", "old\r\n");
    ASSERT_TRUE(CreateHardLinkW((folder / "other.cfg").wstring().c_str(), (folder / "settings.cfg").wstring().c_str(),
                                nullptr));
    fill_but(4096);
    auto writer = files.replace_file((folder / "settings.cfg").u16string());
    writer->write_line(from_utf8(std::string(16384, 's')));
    EXPECT_EQ(raised([&] { writer->close(); }).number(), 61);
    EXPECT_EQ(read_bytes(folder / "settings.cfg"), "old\r\n");
    EXPECT_EQ(read_bytes(folder / "other.cfg"), "old\r\n");
}

TEST_F(SystemFileSystemTest, FoldersAreMadeAtEitherSeparator)
{
    files.create_folders(scratch.name("a\\b/c"));
    files.create_folders(scratch.name("a\\b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path("a") / "b" / "c"));
    testing::write_bytes(scratch.path("plain"), "");
    EXPECT_EQ(raised([&] { files.create_folders(scratch.name("plain\\sub")); }).number(), 75);
}

TEST(WindowsClock, MonthNamesComeFromTheRegionalSettings)
{
    Clock& clock = system_clock();
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
    Clock& clock = system_clock();
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
