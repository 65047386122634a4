#include "spreadsheet/workbook/xls_writer.h"

#include "frame/automation_error.h"
#include "platform/files/system_file_system.h"
#include "tests/support/disk_files.h"
#include "tests/support/memory_file_system.h"
#include "xls_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace varne::workbook {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using varne::testing::read_bytes;
using varne::testing::Unprivileged;
using varne::testing::write_bytes;

// A workbook of about 250 KB: more than the small file systems below can take.
Workbook sizeable_workbook()
{
    Workbook workbook;
    for (uint32_t row = 1; row <= 2000; ++row) {
        for (uint16_t column = 1; column <= 10; ++column)
            workbook.sheet(0).set_cell({row, column}, row * 1.000001 + column);
    }
    return workbook;
}

void expect_save_error(FileSystem& files, const Workbook& workbook, const std::string& path, int32_t number,
                       const std::string& description)
{
    try {
        save_xls(workbook, files, from_utf8(path));
        ADD_FAILURE() << "saving " << path << " raised nothing";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), number);
        EXPECT_EQ(error.description(), description);
    }
}

TEST(XlsSave, ReplacesAnExistingFileAndLeavesNothingElseBehind)
{
    ScratchFolder folder;
    const std::string path = folder.file("book.xls");
    write_bytes(path, "an older file");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    testing::save_on_disk(Workbook(), path);
    EXPECT_EQ(read_bytes(path).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(folder.entry_count(), 1u);
}

TEST(XlsSave, FollowsASymbolicLinkToTheFileItNames)
{
    ScratchFolder folder;
    fs::create_directory(folder.path() / "real");
    const std::string real = folder.file("real/book.xls");
    const std::string link = folder.file("link.xls");
    write_bytes(real, "old");
    fs::create_symlink(real, link);
    testing::save_on_disk(Workbook(), link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::file_size(real), 4096u + 3 * 512);
}

TEST(XlsSave, NamesTheFileAndTheCauseOfEachRefusal)
{
    ScratchFolder folder;
    files::SystemFileSystem files;
    Workbook workbook;
    const std::string missing = folder.file("missing/book.xls");
    expect_save_error(files, workbook, missing, 76,
                      "Path not found: cannot create '" + missing + "' (No such file or directory)");
    write_bytes(folder.file("plain"), "a file, not a folder");
    const std::string under_file = folder.file("plain/book.xls");
    expect_save_error(files, workbook, under_file, 76,
                      "Path not found: cannot replace '" + under_file + "' (Not a directory)");
    fs::create_directory(folder.path() / "folder.xls");
    const std::string a_folder = folder.file("folder.xls");
    expect_save_error(files, workbook, a_folder, 75,
                      "Path/File access error: cannot replace '" + a_folder + "' (it is a folder)");
    const std::string no_name = folder.path().string() + "/";
    expect_save_error(files, workbook, no_name, 52,
                      "Bad file name or number: cannot replace '" + no_name + "' (no file name)");
    expect_save_error(files, workbook, "", 52, "Bad file name or number: cannot replace '' (no file name)");
    const std::string long_name = folder.file(std::string(300, 'n') + ".xls");
    expect_save_error(files, workbook, long_name, 52,
                      "Bad file name or number: cannot replace '" + long_name + "' (File name too long)");
    EXPECT_EQ(folder.entry_count(), 2u);  // plain and folder.xls: no new file was left
}

TEST(XlsSave, AReadOnlyFileOrFolderIsRefusedAndKept)
{
    constexpr auto kReadable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    constexpr auto kSearchable = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    ScratchFolder folder;
    files::SystemFileSystem files;
    const std::string read_only = folder.file("read-only.xls");
    write_bytes(read_only, "keep me");
    fs::permissions(read_only, kReadable);
    fs::create_directory(folder.path() / "locked");
    fs::permissions(folder.path() / "locked", kReadable | kSearchable);
    const std::string in_locked = folder.file("locked/book.xls");
    {
        Unprivileged plain_user;
        expect_save_error(files, Workbook(), read_only, 70,
                          "Permission denied: cannot replace '" + read_only + "' (Permission denied)");
        expect_save_error(files, Workbook(), in_locked, 70,
                          "Permission denied: cannot create '" + in_locked + "' (Permission denied)");
    }
    EXPECT_EQ(read_bytes(read_only), "keep me");
    EXPECT_TRUE(fs::is_empty(folder.path() / "locked"));
    EXPECT_EQ(folder.entry_count(), 2u);
}

TEST(XlsSave, AFullDiskLeavesTheOldFileWholeAndNoTemporaryFile)
{
    ScratchFolder folder;
    const std::string mount_point = folder.file("small");
    fs::create_directory(mount_point);
    if (testing::run_command("mount -t tmpfs -o size=64k tmpfs " + testing::quoted(mount_point) + " 2>/dev/null")
            .status != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        std::string point;
        ~Unmount() { testing::run_command("umount " + testing::quoted(point)); }
    } unmount{mount_point};
    const std::string path = mount_point + "/book.xls";
    write_bytes(path, "the previous workbook");
    files::SystemFileSystem files;
    expect_save_error(files, sizeable_workbook(), path, 61,
                      "Disk full: cannot write to '" + path + "' (No space left on device)");
    EXPECT_EQ(read_bytes(path), "the previous workbook");
    EXPECT_EQ(std::distance(fs::directory_iterator(mount_point), fs::directory_iterator()), 1);
}

TEST(XlsSave, AWriteFailureMidwayBecomesADeviceErrorAndCleansUp)
{
    ScratchFolder folder;
    const std::string path = folder.file("book.xls");
    write_bytes(path, "the previous workbook");
    Workbook workbook = sizeable_workbook();
    files::SystemFileSystem files;
    // A file size limit makes the write fail part way, as a failing device would.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    expect_save_error(files, workbook, path, 57, "Device I/O error: cannot write to '" + path + "' (File too large)");
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_EQ(read_bytes(path), "the previous workbook");
    EXPECT_EQ(folder.entry_count(), 1u);
}

TEST(XlsSave, AFailedWriteThroughThePortKeepsTheOldFile)
{
    varne::testing::MemoryFileSystem files;
    files.put_file(u"book.xls", "the previous workbook");
    files.fail_write(1, AutomationError(61, "Disk full: cannot write to 'book.xls' (No space left on device)"));
    expect_save_error(files, sizeable_workbook(), "book.xls", 61,
                      "Disk full: cannot write to 'book.xls' (No space left on device)");
    EXPECT_EQ(files.file(u"book.xls"), "the previous workbook");
    EXPECT_EQ(files.open_writers(), 0);
}

}  // namespace
}  // namespace varne::workbook
