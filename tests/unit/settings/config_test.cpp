#include "settings/config.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/automation_errors.h"
#include "tests/support/memory_file_system.h"

namespace varne {
namespace {

using testing::MemoryFileSystem;
using testing::raised;

class ConfigTest : public ::testing::Test {
protected:
    // Loads the bytes as a file and answers what Save makes of the store.
    std::string round_trip(std::string bytes)
    {
        files.put_file(u"in.cfg", std::move(bytes));
        EXPECT_EQ(config->Load(u"in.cfg"), 0);
        return saved();
    }
    std::string saved()
    {
        EXPECT_TRUE(config->Save(u"out.cfg").is_empty());
        return files.file(u"out.cfg").value_or("<no file>");
    }

    MemoryFileSystem files;
    Ref<Config> config = make_object<Config>(files);
};

TEST_F(ConfigTest, LoadsTheFourLineExample)
{
    files.put_file(u"rig.cfg", "# test rig\r\n  Server = alpha  \r\nRetries=3");
    ASSERT_EQ(config->Load(u"rig.cfg"), 0);
    EXPECT_EQ(config->GetItem(u"SERVER"), u" alpha");

    files.put_file(u"rig.cfg", "# test rig\r\n  Server = alpha  \r\nRetries=3\r\nserver=beta");
    ASSERT_EQ(config->Load(u"rig.cfg"), 0);
    EXPECT_EQ(config->GetItem(u"server"), u"beta");
    EXPECT_EQ(config->GetItem(u"Retries"), u"3");
    EXPECT_EQ(saved(), "SERVER=beta\r\nRETRIES=3\r\n");
}

TEST_F(ConfigTest, KeysIgnoreCaseAndKeepTheirFirstPosition)
{
    config->SetItem(u"port", u"80");
    config->SetItem(u"a", u"1");
    config->SetItem(u"A", u"2");
    config->SetItem(u"Port", u"8080");
    config->SetItem(u"empty", u"");
    EXPECT_EQ(config->GetItem(u"PORT"), u"8080");
    EXPECT_EQ(config->GetItem(u"a"), u"2");
    EXPECT_EQ(config->GetItem(u"EMPTY"), u"");
    EXPECT_EQ(config->GetItem(u"never set"), u"");
    EXPECT_EQ(saved(), "PORT=8080\r\nA=2\r\nEMPTY=\r\n");
}

TEST_F(ConfigTest, KeysAreNotTrimmedByTheStoreButByLoad)
{
    config->SetItem(u" key", u"v");
    EXPECT_EQ(config->GetItem(u"key"), u"");
    EXPECT_EQ(config->GetItem(u" KEY"), u"v");
    EXPECT_EQ(saved(), " KEY=v\r\n");

    ASSERT_EQ(config->Load(u"out.cfg"), 0);
    EXPECT_EQ(config->GetItem(u"key"), u"v");
}

TEST_F(ConfigTest, UnSetItemEmptiesTheKeyAndKeepsTheEntry)
{
    config->SetItem(u"A", u"1");
    config->UnSetItem(u"a");
    config->UnSetItem(u"absent");
    EXPECT_EQ(config->GetItem(u"A"), u"");
    EXPECT_EQ(config->GetItem(u""), u"1");
    config->SetItem(u"a", u"2");
    EXPECT_EQ(saved(), "=1\r\nA=2\r\n");

    ASSERT_EQ(config->Load(u"out.cfg"), 0);
    EXPECT_EQ(config->GetItem(u""), u"1");
    EXPECT_EQ(config->GetItem(u"A"), u"2");
}

TEST_F(ConfigTest, LoadWalksLinesAsWritten)
{
    const std::pair<std::string, std::string> cases[] = {
        {"x = y = z", "X= y = z\r\n"},
        {"  # key=value\r\n#=1\r\nkey=#5", "KEY=#5\r\n"},
        {"abc\r\n=5\r\n   \r\n\r\n", "=5\r\n"},
        {"a=1\nb=2\r\nc=3\rd", "A=1\nb=2\r\nC=3\rd\r\n"},
        {"\tkey = v\t ", "\tKEY= v\t\r\n"},
        {"a=1\r\nb=2\r\nA=3", "A=3\r\nB=2\r\n"},
        {"a=1\r\n=", "A=1\r\n"},
        {"a=1\r\nk=", "A=1\r\nK=\r\n"},
        {"=", ""},
        {"", ""},
        {"\r\n\r\nk=v\r\n", "K=v\r\n"},
    };
    for (const auto& [file, expected] : cases)
        EXPECT_EQ(round_trip(file), expected) << file;
}

TEST_F(ConfigTest, BytesThatDoNotDecodeLoadAndSaveBackAsTheyWere)
{
    using namespace std::string_literals;
    const std::string bytes = "K=\xff\xfe\0z\r\nLATIN=caf\xe9\r\nNAME=Grüße\r\nCAF\xc9=1\r\nCAF\xe9=2\r\n"s;
    files.put_file(u"odd.cfg", bytes);
    ASSERT_EQ(config->Load(u"odd.cfg"), 0);
    EXPECT_EQ(config->GetItem(u"k"), (BStr{0xDCFF, 0xDCFE, 0, u'z'}));
    EXPECT_EQ(config->GetItem(u"latin"), (BStr{u'c', u'a', u'f', 0xDCE9}));
    EXPECT_EQ(config->GetItem(u"name"), u"Grüße");
    // Two keys that differ in a byte of another code page stay two keys, each found as written.
    EXPECT_EQ(config->GetItem(BStr{u'c', u'a', u'f', 0xDCC9}), u"1");
    EXPECT_EQ(config->GetItem(BStr{u'C', u'a', u'F', 0xDCE9}), u"2");
    EXPECT_EQ(saved(), bytes);
}

TEST_F(ConfigTest, LoadEmptiesTheStoreWhateverFollows)
{
    config->SetItem(u"stale", u"1");
    EXPECT_EQ(config->Load(u""), -1);
    EXPECT_EQ(config->GetItem(u"stale"), u"");

    config->SetItem(u"stale", u"1");
    EXPECT_EQ(config->Load(u"missing.cfg"), -1);
    EXPECT_EQ(config->GetItem(u"stale"), u"");

    files.put_file(u"broken.cfg", "k=v");
    files.fail_next_read(AutomationError(57, "Device I/O error: cannot read 'broken.cfg' (Input/output error)"));
    config->SetItem(u"stale", u"1");
    auto error = raised([&] { config->Load(u"broken.cfg"); });
    EXPECT_EQ(error.number(), 57);
    EXPECT_EQ(error.description(), "Device I/O error: cannot read 'broken.cfg' (Input/output error)");
    EXPECT_EQ(saved(), "");
}

TEST_F(ConfigTest, LineEndPast32765Overflows)
{
    // "a=1" CR LF, then "b=" and n characters: that line ends at position 8 + n.
    const std::string fits = "a=1\r\nb=" + std::string(32757, 'x');
    EXPECT_EQ(round_trip(fits + "\r\n"), "A=1\r\nB=" + std::string(32757, 'x') + "\r\n");
    EXPECT_EQ(round_trip(fits), "A=1\r\nB=" + std::string(32757, 'x') + "\r\n");

    // Each text with the entries stored before the line that overflows.
    const std::pair<std::string, std::string> cases[] = {
        {fits + "x", "A=1\r\n"},
        {fits + "x\r\n", "A=1\r\n"},
        {fits + "\r\nc=3", "A=1\r\nB=" + std::string(32757, 'x') + "\r\n"},
        {std::string(40000, '#'), ""},
    };
    for (const auto& [text, stored] : cases) {
        files.put_file(u"long.cfg", text);
        auto error = raised([&] { config->Load(u"long.cfg"); });
        EXPECT_EQ(error.number(), 6);
        EXPECT_EQ(error.description(), "Overflow");
        EXPECT_EQ(saved(), stored);
    }
}

TEST_F(ConfigTest, Entry32768IsTheLastThatLookupsWalkPast)
{
    // Keys of 512 lengths, so that most comparisons end at the length: the linear lookups stay quick.
    auto key = [](int i) { return char16_t(u'!' + i / 512) + BStr(size_t(i % 512), u'k'); };
    for (int i = 0; i < 32768; ++i)
        config->SetItem(key(i), u"v");
    EXPECT_EQ(config->GetItem(key(32767)), u"v");
    config->SetItem(key(0), u"first");
    EXPECT_EQ(config->GetItem(to_upper(key(0))), u"first");

    files.put_file(u"out.cfg", "OLD=1\r\n");
    for (auto call : {+[](Config& c) { c.GetItem(u"absent"); }, +[](Config& c) { c.SetItem(u"new", u"1"); },
                      +[](Config& c) { c.UnSetItem(u"absent"); }, +[](Config& c) { c.Save(u"out.cfg"); }}) {
        EXPECT_EQ(raised([&] { call(*config); }).number(), 6);
    }
    EXPECT_EQ(files.file(u"out.cfg"), "OLD=1\r\n");
    EXPECT_EQ(files.open_writers(), 0);
}

TEST_F(ConfigTest, SaveResults)
{
    files.put_file(u"out.cfg", "OLD=1\r\n");
    Variant refused = config->Save(u"");
    EXPECT_EQ(refused.type(), VarType::I2);
    EXPECT_EQ(refused, Variant(int16_t(-1)));
    EXPECT_EQ(files.write_line_calls(), 0);

    EXPECT_EQ(saved(), "");
    EXPECT_EQ(files.open_writers(), 0);
}

TEST_F(ConfigTest, FailedSaveLeavesTheOldFileWhole)
{
    files.put_file(u"out.cfg", "OLD=1\r\n");
    config->SetItem(u"a", u"1");
    config->SetItem(u"b", u"2");
    config->SetItem(u"c", u"3");
    files.fail_write(3, AutomationError(61, "Disk full: cannot write to 'out.cfg' (No space left on device)"));
    auto error = raised([&] { config->Save(u"out.cfg"); });
    EXPECT_EQ(error.number(), 61);
    EXPECT_EQ(error.description(), "Disk full: cannot write to 'out.cfg' (No space left on device)");
    EXPECT_EQ(files.file(u"out.cfg"), "OLD=1\r\n");
    EXPECT_EQ(files.open_writers(), 0);

    EXPECT_EQ(saved(), "A=1\r\nB=2\r\nC=3\r\n");
}

TEST_F(ConfigTest, SaveRefusesWhatItMayNotWrite)
{
    files.put_file(u"locked.cfg", "OLD=1\r\n");
    files.set_read_only(u"locked.cfg");
    files.create_folders(u"settings");
    config->SetItem(u"a", u"1");
    const std::pair<BStr, int32_t> cases[] = {{u"locked.cfg", 70}, {u"missing/x.cfg", 76}, {u"settings", 75}};
    for (const auto& refused : cases)
        EXPECT_EQ(raised([&] { config->Save(refused.first); }).number(), refused.second);
    EXPECT_EQ(files.file(u"locked.cfg"), "OLD=1\r\n");
    EXPECT_EQ(files.write_line_calls(), 0);
}

}  // namespace
}  // namespace varne
