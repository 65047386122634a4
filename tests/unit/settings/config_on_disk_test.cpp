#include "settings/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/posix/posix_file_system.h"
#include "tests/support/disk_files.h"

namespace varne {
namespace {

namespace fs = std::filesystem;

using testing::read_bytes;
using testing::Unprivileged;
using testing::write_bytes;

// Config through the real file layer, in a folder of the test's own.
class ConfigOnDiskTest : public ::testing::Test {
protected:
    ConfigOnDiskTest() : folder(fs::temp_directory_path() / ("varne-config-" + std::to_string(std::random_device()())))
    {
        fs::create_directories(folder);
    }
    ~ConfigOnDiskTest() override { fs::remove_all(folder); }

    BStr name(const std::string& file) const { return from_utf8((folder / file).string()); }
    std::string path(const std::string& file) const { return (folder / file).string(); }

    template <class Call>
    void expect_error(Call&& call, int32_t number, const std::string& description)
    {
        try {
            call();
            ADD_FAILURE() << "no AutomationError for " << description;
        } catch (const AutomationError& error) {
            EXPECT_EQ(error.number(), number);
            EXPECT_EQ(error.description(), description);
        }
    }

    fs::path folder;
    Ref<Config> config = make_object<Config>();
};

TEST_F(ConfigOnDiskTest, SaveReplacesTheFileKeepingItsModeAndNoLeftovers)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n# a comment that goes\r\n");
    fs::permissions(folder / "app.cfg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    config->SetItem(u"Server", u"東京");
    config->SetItem(u"lone", u"\xDC00");
    EXPECT_TRUE(config->Save(name("app.cfg")).is_empty());

    EXPECT_EQ(read_bytes(folder / "app.cfg"), "SERVER=東京\r\nLONE=?\r\n");
    EXPECT_EQ(fs::status(folder / "app.cfg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(ConfigOnDiskTest, SaveThroughALinkReplacesTheFileItNames)
{
    write_bytes(folder / "real.cfg", "OLD=1\r\n");
    fs::create_symlink(folder / "real.cfg", folder / "link.cfg");
    config->SetItem(u"k", u"v");
    config->Save(name("link.cfg"));
    EXPECT_TRUE(fs::is_symlink(folder / "link.cfg"));
    EXPECT_EQ(read_bytes(folder / "real.cfg"), "K=v\r\n");
}

TEST_F(ConfigOnDiskTest, LoadTakesAnyBytesAndRefusesWhatIsNoFile)
{
    constexpr char kBytes[] = "bin=\x80\0\x01\r\n  name = Zoë \r\n";
    write_bytes(folder / "odd.cfg", std::string(kBytes, sizeof kBytes - 1));
    ASSERT_EQ(config->Load(name("odd.cfg")), 0);
    EXPECT_EQ(config->GetItem(u"BIN"), (BStr{0xDC80, 0, 1}));
    EXPECT_EQ(config->GetItem(u"name"), u" Zoë");

    EXPECT_EQ(config->Load(from_utf8(folder.string())), -1);
    EXPECT_EQ(config->Load(name("missing/x.cfg")), -1);
    EXPECT_EQ(config->Load(BStr(u"odd.cfg\0.txt", 12)), -1);
    expect_error([&] { config->Load(u"/dev/zero"); }, 75,
                 "Path/File access error: cannot read '/dev/zero' (it is not a regular file)");
}

TEST_F(ConfigOnDiskTest, FilesThatCannotBeWrittenAreRefusedBeforeAnyChange)
{
    config->SetItem(u"k", u"v");
    fs::create_directory(folder / "sub");
    expect_error([&] { config->Save(name("sub")); }, 75,
                 "Path/File access error: cannot replace '" + path("sub") + "' (it is a folder)");
    expect_error([&] { config->Save(name("missing/x.cfg")); }, 76,
                 "Path not found: cannot create '" + path("missing/x.cfg") + "' (No such file or directory)");

    write_bytes(folder / "locked.cfg", "OLD=1\r\n");
    fs::permissions(folder / "locked.cfg", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    write_bytes(folder / "secret.cfg", "K=1\r\n");
    fs::permissions(folder / "secret.cfg", fs::perms::none);
    fs::permissions(folder, fs::perms::all);
    {
        Unprivileged plain_user;
        expect_error([&] { config->Save(name("locked.cfg")); }, 70,
                     "Permission denied: cannot replace '" + path("locked.cfg") + "' (Permission denied)");
        expect_error([&] { config->Load(name("secret.cfg")); }, 70,
                     "Permission denied: cannot open '" + path("secret.cfg") + "' (Permission denied)");
    }
    EXPECT_EQ(read_bytes(folder / "locked.cfg"), "OLD=1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
}

TEST_F(ConfigOnDiskTest, ADroppedReplacementLeavesTheOldFileAndNothingElse)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n");
    PosixFileSystem files;
    {
        auto writer = files.replace_file(name("app.cfg"));
        writer->write_line(u"NEW=1");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    }
    EXPECT_EQ(read_bytes(folder / "app.cfg"), "OLD=1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    expect_error([&] { config->Save(BStr(u"app.cfg\0.bak", 12)); }, 52,
                 "Bad file name or number: 'app.cfg\\0.bak' holds a NUL character");
}

}  // namespace
}  // namespace varne
