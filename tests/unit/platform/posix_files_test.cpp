#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/system_file_system.h"
#include "tests/support/automation_errors.h"
#include "tests/support/disk_files.h"
#include "tests/support/posix/posix_disk.h"

// What only the POSIX files have: links, owners, modes, extended attributes, a kernel that
// kills a saver, file systems that run full, names at the file system's limit.
namespace varne {
namespace {

namespace fs = std::filesystem;

using testing::kNobody;
using testing::kNoGroup;
using testing::raised;
using testing::read_bytes;
using testing::run_in_child;
using testing::SmallDisk;
using testing::Unprivileged;
using testing::write_bytes;

struct stat status_of(const fs::path& path)
{
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

class PosixFilesTest : public ::testing::Test {
protected:
    BStr name(const std::string& file) const { return folder.name(file); }
    std::string path(const std::string& file) const { return (folder / file).string(); }
    size_t entries(const fs::path& in) const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(in), {}));
    }

    // Saves the one line K=v, or the text given, as the settings file does.
    void save(const std::string& file, const BStr& text = u"K=v")
    {
        auto writer = files.replace_file(name(file));
        writer->write_line(text);
        writer->close();
    }

    void expect_error(const AutomationError& error, int32_t number, const std::string& description)
    {
        EXPECT_EQ(error.number(), number);
        EXPECT_EQ(error.description(), description);
    }

    testing::TemporaryFolder folder{"varne-posix-"};
    files::SystemFileSystem files;
};

TEST_F(PosixFilesTest, ASaveKeepsTheModeAndWritesUtf8)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n");
    fs::permissions(folder / "app.cfg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    save("app.cfg", u"SERVER=東京");
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "SERVER=東京\r\n");
    EXPECT_EQ(fs::status(folder / "app.cfg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(PosixFilesTest, ASaveThroughALinkReplacesTheFileItNames)
{
    write_bytes(folder / "real.cfg", "OLD=1\r\n");
    fs::create_symlink(folder / "real.cfg", folder / "link.cfg");
    save("link.cfg");
    EXPECT_TRUE(fs::is_symlink(folder / "link.cfg"));
    EXPECT_EQ(read_bytes(folder / "real.cfg"), "K=v\r\n");
}

TEST_F(PosixFilesTest, WhatIsNoRegularFileOrMayNotBeReadIsRefused)
{
    expect_error(raised([&] { files.read_all_text(u"/dev/zero"); }), 75,
                 "Path/File access error: cannot read '/dev/zero' (it is not a regular file)");
    write_bytes(folder / "secret.cfg", "K=1\r\n");
    fs::permissions(folder / "secret.cfg", fs::perms::none);
    fs::permissions(folder, fs::perms::all);
    Unprivileged plain_user;
    expect_error(raised([&] { files.read_all_text(name("secret.cfg")); }), 70,
                 "Permission denied: cannot open '" + path("secret.cfg") + "' (Permission denied)");
}

TEST_F(PosixFilesTest, AReplacementHasNoNameUntilItIsComplete)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n");
    {
        auto writer = files.replace_file(name("app.cfg"));
        writer->write_line(u"NEW=1");
        // A saver that dies now leaves nothing.
        EXPECT_EQ(entries(folder), 1u);
    }
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "OLD=1\r\n");
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(PosixFilesTest, AFileWithSeveralLinksIsWrittenOverAndKeepsThem)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\nLONGER=than what replaces it\r\n");
    fs::create_hard_link(folder / "app.cfg", folder / "also.cfg");
    const ino_t inode = status_of(folder / "app.cfg").st_ino;
    save("also.cfg");
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "K=v\r\n");
    EXPECT_EQ(status_of(folder / "app.cfg").st_ino, inode);
    EXPECT_EQ(status_of(folder / "app.cfg").st_nlink, 2u);
    EXPECT_EQ(entries(folder), 2u);
}

TEST_F(PosixFilesTest, ASaveKeepsTheFilesExtendedAttributes)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n");
    if (::setxattr(path("app.cfg").c_str(), "user.varne.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system takes no extended attributes of users";
    save("app.cfg");
    char value[16] = {};
    EXPECT_EQ(::getxattr(path("app.cfg").c_str(), "user.varne.note", value, sizeof value), 4);
    EXPECT_EQ(std::string(value), "kept");
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "K=v\r\n");
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(PosixFilesTest, ASaveKeepsTheOwnerOfAnotherUsersFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    // Root may give the new file the old one's owner, so the save stays a replacement.
    write_bytes(folder / "theirs.cfg", "OLD=1\r\n");
    ASSERT_EQ(::chown(path("theirs.cfg").c_str(), kNobody, kNoGroup), 0);
    ASSERT_EQ(::chmod(path("theirs.cfg").c_str(), 0640), 0);
    save("theirs.cfg");
    auto theirs = status_of(folder / "theirs.cfg");
    EXPECT_EQ(theirs.st_uid, kNobody);
    EXPECT_EQ(theirs.st_gid, kNoGroup);
    EXPECT_EQ(theirs.st_mode & 07777, 0640u);
    EXPECT_EQ(read_bytes(folder / "theirs.cfg"), "K=v\r\n");

    // A plain user may write root's file but not make one of root's, nor, in a sticky folder such
    // as /tmp, rename over it: the file is written over.
    write_bytes(folder / "roots.cfg", "OLD=1\r\n");
    ASSERT_EQ(::chmod(path("roots.cfg").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.string().c_str(), 01777), 0);
    const ino_t inode = status_of(folder / "roots.cfg").st_ino;
    {
        Unprivileged plain_user;
        save("roots.cfg");
    }
    auto roots = status_of(folder / "roots.cfg");
    EXPECT_EQ(roots.st_uid, 0u);
    EXPECT_EQ(roots.st_ino, inode);
    EXPECT_EQ(roots.st_mode & 07777, 0666u);
    EXPECT_EQ(read_bytes(folder / "roots.cfg"), "K=v\r\n");
    EXPECT_EQ(entries(folder), 2u);
}

TEST_F(PosixFilesTest, AFolderWhereNoFileMayBeMadeStillLetsItsFilesBeSaved)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can set up a file that a plain user may write in a folder it may not";
    fs::create_directory(folder / "locked");
    write_bytes(folder / "locked" / "app.cfg", "OLD=1\r\nLONGER=than what replaces it\r\n");
    ASSERT_EQ(::chown(path("locked/app.cfg").c_str(), kNobody, kNoGroup), 0);
    ASSERT_EQ(::chmod(path("locked/app.cfg").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(path("locked").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(folder.string().c_str(), 0755), 0);
    const ino_t inode = status_of(folder / "locked" / "app.cfg").st_ino;
    {
        Unprivileged plain_user;
        save("locked/app.cfg");
        expect_error(raised([&] { save("locked/new.cfg"); }), 70,
                     "Permission denied: cannot create '" + path("locked/new.cfg") + "' (Permission denied)");
    }
    EXPECT_EQ(read_bytes(folder / "locked" / "app.cfg"), "K=v\r\n");
    auto saved = status_of(folder / "locked" / "app.cfg");
    EXPECT_EQ(saved.st_ino, inode);
    EXPECT_EQ(saved.st_uid, kNobody);
    EXPECT_EQ(saved.st_mode & 07777, 0600u);
    EXPECT_EQ(entries(folder / "locked"), 1u);
}

TEST_F(PosixFilesTest, AFullDiskRefusesASaveInPlaceBeforeTheOldContentsGo)
{
    fs::create_directory(folder / "small");
    SmallDisk disk(folder / "small", 64 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "only root can mount a small file system";
    const fs::path small = folder / "small";
    write_bytes(small / "app.cfg", "OLD=1\r\n");
    fs::create_hard_link(small / "app.cfg", small / "also.cfg");
    write_bytes(small / "filler", std::string(64 * 1024, 'f'));
    const BStr big = u"BIG=" + BStr(16 * 1024, u'x');
    expect_error(raised([&] { save("small/app.cfg", big); }), 61,
                 "Disk full: cannot write to '" + path("small/app.cfg") + "' (No space left on device)");
    EXPECT_EQ(read_bytes(small / "app.cfg"), "OLD=1\r\n");
    EXPECT_EQ(status_of(small / "app.cfg").st_nlink, 2u);

    // The atomic save on the same full disk also leaves the old file and nothing of its own.
    fs::remove(small / "also.cfg");
    expect_error(raised([&] { save("small/app.cfg", big); }), 61,
                 "Disk full: cannot write to '" + path("small/app.cfg") + "' (No space left on device)");
    EXPECT_EQ(read_bytes(small / "app.cfg"), "OLD=1\r\n");
    EXPECT_EQ(entries(small), 2u);
}

TEST_F(PosixFilesTest, ASaverKilledPartWayLeavesNoFileOfItsOwn)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n");
    int ended = run_in_child([&] {
        auto writer = files.replace_file(name("app.cfg"));
        writer->write_bytes(std::vector<uint8_t>(1 << 20, 'x'));
        ::kill(::getpid(), SIGKILL);
    });
    EXPECT_EQ(ended, 128 + SIGKILL);
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "OLD=1\r\n");
    EXPECT_EQ(entries(folder), 1u);
}

TEST_F(PosixFilesTest, ASaveRemovesTheFilesOfSaversThatDiedAndNoOthers)
{
    // What a saver leaves that dies between naming its new file and putting it in place, or
    // anywhere on a file system that makes no file without a name.
    write_bytes(folder / ".varne-0123456789abcdef.tmp", std::string(1 << 20, 'x'));
    // A live saver holds its file locked; this process is one as much as another would be.
    write_bytes(folder / ".varne-fedcba9876543210.tmp", "being written");
    int held = ::open(path(".varne-fedcba9876543210.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    write_bytes(folder / ".varne-notes.tmp", "a file of the user's");
    write_bytes(folder / "target.txt", "a file a link points at");
    fs::create_symlink(folder / "target.txt", folder / ".varne-aaaaaaaaaaaaaaaa.tmp");

    save("app.cfg");
    ::close(held);
    EXPECT_FALSE(fs::exists(folder / ".varne-0123456789abcdef.tmp"));
    EXPECT_EQ(read_bytes(folder / ".varne-fedcba9876543210.tmp"), "being written");
    EXPECT_TRUE(fs::exists(folder / ".varne-notes.tmp"));
    EXPECT_TRUE(fs::is_symlink(folder / ".varne-aaaaaaaaaaaaaaaa.tmp"));
    EXPECT_EQ(read_bytes(folder / "target.txt"), "a file a link points at");
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "K=v\r\n");
    EXPECT_EQ(entries(folder), 5u);
}

TEST_F(PosixFilesTest, NamesUpToTheFileSystemLimitSave)
{
    for (size_t length : {246u, 255u}) {
        const std::string file(length, 'n');
        save(file);
        EXPECT_EQ(read_bytes(folder / file), "K=v\r\n");
        save(file);
    }
    const std::string too_long(256, 'n');
    expect_error(raised([&] { save(too_long); }), 52,
                 "Bad file name or number: cannot replace '" + path(too_long) + "' (File name too long)");
    EXPECT_EQ(entries(folder), 2u);
}

}  // namespace
}  // namespace varne
