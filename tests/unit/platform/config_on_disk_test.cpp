#include "settings/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/system.h"
#include "tests/support/disk_files.h"

namespace varne {
namespace {

namespace fs = std::filesystem;

using testing::read_bytes;
using testing::write_bytes;

// Config through the real file layer, in a folder of the test's own.
class ConfigOnDiskTest : public ::testing::Test {
protected:
    BStr name(const std::string& file) const { return folder.name(file); }

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

    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }

    testing::TemporaryFolder folder{"varne-config-"};
    Ref<Config> config = make_object<Config>(system_file_system());
};

TEST_F(ConfigOnDiskTest, SaveReplacesTheFileWithUtf8LinesAndNoLeftovers)
{
    write_bytes(folder / "app.cfg", "OLD=1\r\n# a comment that goes\r\n");
    config->SetItem(u"Server", u"東京");
    config->SetItem(u"lone", u"\xDC00");
    EXPECT_TRUE(config->Save(name("app.cfg")).is_empty());

    EXPECT_EQ(read_bytes(folder / "app.cfg"), "SERVER=東京\r\nLONE=?\r\n");
    EXPECT_EQ(entries(), 1u);
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

TEST_F(ConfigOnDiskTest, BytesThatDoNotDecodeSaveBackAsTheyWere)
{
    const std::string bytes = "CAF\xc9=\xe9t\xe9\r\nK=\xff\xfe\xed\xa0\x80\xc3\r\nNAME=Gr\xc3\xbc\xc3\x9f"
                              "e\r\n";
    write_bytes(folder / "latin.cfg", bytes);
    ASSERT_EQ(config->Load(name("latin.cfg")), 0);
    EXPECT_EQ(config->GetItem(u"name"), u"Grüße");
    config->Save(name("latin.cfg"));
    EXPECT_EQ(read_bytes(folder / "latin.cfg"), bytes);
}

}  // namespace
}  // namespace varne
