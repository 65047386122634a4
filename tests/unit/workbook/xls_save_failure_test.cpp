#include "spreadsheet/engine/xls_writer.h"

#include "frame/automation_error.h"
#include "spreadsheet/engine/atomic_file.h"
#include "xls_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace varne::workbook {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

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

void expect_save_error(const Workbook& workbook, const std::string& path, int32_t number,
                       const std::string& description)
{
    try {
        save_xls(workbook, path);
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
    write_text(path, "an older file");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    save_xls(Workbook(), path);
    EXPECT_EQ(testing::file_text(path).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(folder.entry_count(), 1u);
}

TEST(XlsSave, FollowsASymbolicLinkToTheFileItNames)
{
    ScratchFolder folder;
    fs::create_directory(folder.path() / "real");
    const std::string real = folder.file("real/book.xls");
    const std::string link = folder.file("link.xls");
    write_text(real, "old");
    fs::create_symlink(real, link);
    save_xls(Workbook(), link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::file_size(real), 4096u + 3 * 512);
}

TEST(XlsSave, NamesTheFileAndTheCauseOfEachRefusal)
{
    ScratchFolder folder;
    Workbook workbook;
    const std::string missing = folder.file("missing/book.xls");
    expect_save_error(workbook, missing, 76,
                      "Path not found: cannot save '" + missing + "' (No such file or directory)");
    write_text(folder.file("plain"), "a file, not a folder");
    const std::string under_file = folder.file("plain/book.xls");
    expect_save_error(workbook, under_file, 76, "Path not found: cannot save '" + under_file + "' (Not a directory)");
    fs::create_directory(folder.path() / "folder.xls");
    const std::string a_folder = folder.file("folder.xls");
    expect_save_error(workbook, a_folder, 75,
                      "Path/File access error: cannot save '" + a_folder + "' (Is a directory)");
    const std::string no_name = folder.path().string() + "/";
    expect_save_error(workbook, no_name, 52, "Bad file name or number: cannot save '" + no_name + "' (no file name)");
    expect_save_error(workbook, "", 52, "Bad file name or number: cannot save '' (no file name)");
    const std::string long_name = folder.file(std::string(300, 'n') + ".xls");
    expect_save_error(workbook, long_name, 52,
                      "Bad file name or number: cannot save '" + long_name + "' (File name too long)");

    const std::string read_only = folder.file("read-only.xls");
    write_text(read_only, "keep me");
    fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read);
    expect_save_error(workbook, read_only, 70,
                      "Permission denied: cannot save '" + read_only + "' (the file is read-only)");
    EXPECT_EQ(testing::file_text(read_only), "keep me");
    EXPECT_EQ(folder.entry_count(), 3u);  // plain, folder.xls, read-only.xls: no new file was left
}

TEST(XlsSave, AFolderWithoutWritePermissionIsRefused)
{
    ScratchFolder folder;
    fs::create_directory(folder.path() / "locked");
    fs::permissions(folder.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (std::ofstream(folder.file("locked/probe")))
        GTEST_SKIP() << "this user writes into folders without write permission";
    const std::string path = folder.file("locked/book.xls");
    expect_save_error(Workbook(), path, 70, "Permission denied: cannot save '" + path + "' (Permission denied)");
}

TEST(XlsSave, AFullDiskLeavesTheOldFileWholeAndNoTemporaryFile)
{
    ScratchFolder folder;
    const std::string mount_point = folder.file("small");
    fs::create_directory(mount_point);
    if (testing::run_command("mount -t tmpfs -o size=64k tmpfs " + testing::quoted(mount_point) + " 2>/dev/null").status
        != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        std::string point;
        ~Unmount() { testing::run_command("umount " + testing::quoted(point)); }
    } unmount{mount_point};
    const std::string path = mount_point + "/book.xls";
    write_text(path, "the previous workbook");
    expect_save_error(sizeable_workbook(), path, 61,
                      "Disk full: cannot save '" + path + "' (No space left on device)");
    EXPECT_EQ(testing::file_text(path), "the previous workbook");
    EXPECT_EQ(std::distance(fs::directory_iterator(mount_point), fs::directory_iterator()), 1);
}

TEST(XlsSave, AWriteFailureMidwayBecomesADeviceErrorAndCleansUp)
{
    ScratchFolder folder;
    const std::string path = folder.file("book.xls");
    write_text(path, "the previous workbook");
    Workbook workbook = sizeable_workbook();
    // A file size limit makes the write fail part way, as a failing device would.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    expect_save_error(workbook, path, 57, "Device I/O error: cannot save '" + path + "' (File too large)");
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_EQ(testing::file_text(path), "the previous workbook");
    EXPECT_EQ(folder.entry_count(), 1u);
}

TEST(XlsSave, AnErrorOfTheProducerPassesThroughAndRemovesTheNewFile)
{
    ScratchFolder folder;
    const std::string path = folder.file("book.xls");
    try {
        write_file_replacing(path, [](const ByteSink& sink) {
            sink(std::vector<uint8_t>(100, 1));
            throw AutomationError(1004, "The workbook is too large for the file format: a stream exceeds 2 GB.");
        });
        ADD_FAILURE() << "no error";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 1004);
    }
    EXPECT_EQ(folder.entry_count(), 0u);
}

TEST(XlsSave, ErrorNumbersFollowTheCause)
{
    const std::string path = "/somewhere/book.xls";
    auto number = [&](std::errc cause) { return file_error(path, std::make_error_code(cause)).number(); };
    EXPECT_EQ(number(std::errc::permission_denied), 70);
    EXPECT_EQ(number(std::errc::operation_not_permitted), 70);
    EXPECT_EQ(number(std::errc::read_only_file_system), 70);
    EXPECT_EQ(number(std::errc::no_space_on_device), 61);
    EXPECT_EQ(number(std::errc::io_error), 57);
    EXPECT_EQ(number(std::errc::file_too_large), 57);
    EXPECT_EQ(number(std::errc::no_such_file_or_directory), 76);  // "/somewhere" does not exist
    EXPECT_EQ(file_error("/tmp/book.xls", std::make_error_code(std::errc::no_such_file_or_directory)).number(), 53);
    EXPECT_EQ(file_error(path, std::make_error_code(std::errc::read_only_file_system)).description(),
              "Permission denied: cannot save '/somewhere/book.xls' (Read-only file system)");
}

}  // namespace
}  // namespace varne::workbook
