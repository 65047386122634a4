#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "frame/automation_error.h"
#include "tests/support/automation_errors.h"
#include "tests/unit/platform/file_place.h"

// What every file layer promises, run alike against the in-memory fake that the other tests use
// and the adapter that the library ships, so that the fake cannot drift from the real files.
namespace varne {
namespace {

using testing::FilePlace;
using testing::raised;

struct Layer {
    const char* name;
    std::function<std::unique_ptr<FilePlace>()> make;
};

void PrintTo(const Layer& layer, std::ostream* out)
{
    *out << layer.name;
}

class FileSystemContract : public ::testing::TestWithParam<Layer> {
protected:
    FileSystemContract() : place(GetParam().make()), files(place->files()) {}

    // The error's number, and its description up to the system's own words for the reason.
    void expect_failure(const AutomationError& error, int32_t number, const std::string& title,
                        const std::string& action, std::string_view file)
    {
        EXPECT_EQ(error.number(), number) << error.description();
        const std::string start = title + ": cannot " + action + " '" + to_utf8(place->name(file)) + "' (";
        EXPECT_EQ(error.description().substr(0, start.size()), start) << error.description();
    }

    std::unique_ptr<FilePlace> place;
    FileSystem& files;
};

TEST_P(FileSystemContract, LinesEndWithCrLfAndReadBackAsTheyWereWritten)
{
    auto writer = files.create_file(place->name("run.log"));
    writer->write_line(u"first");
    writer->write_line(u"");
    writer->write_line(u"caf\u00e9");
    const uint8_t raw[] = {'r', 'a', 'w'};
    writer->write_bytes(raw);
    writer->close();
    EXPECT_EQ(place->bytes("run.log")->substr(0, 9), "first\r\n\r\n");
    EXPECT_EQ(files.read_all_text(place->name("run.log")), u"first\r\n\r\ncaf\u00e9\r\nraw");
    EXPECT_TRUE(files.file_exists(place->name("run.log")));
}

TEST_P(FileSystemContract, CreatingAFileEmptiesAnOldOneAtOnce)
{
    place->put("run.log", "old contents\r\n");
    auto writer = files.create_file(place->name("run.log"));
    EXPECT_EQ(place->bytes("run.log"), "");
    writer->write_line(u"new");
    EXPECT_EQ(place->bytes("run.log"), "new\r\n") << "every line reaches the file before the call returns";
    writer->close();
    EXPECT_EQ(place->entries(), 1u);
}

TEST_P(FileSystemContract, AFileOpenForWritingCannotBeCreatedAgainAndLosesNothing)
{
    auto first = files.create_file(place->name("run.log"));
    first->write_line(u"kept");
    expect_failure(raised([&] { files.create_file(place->name("run.log")); }), 70, "Permission denied", "create",
                   "run.log");
    first->write_line(u"and kept");
    first->close();
    EXPECT_EQ(place->bytes("run.log"), "kept\r\nand kept\r\n");
    // Once closed, the file may be created again.
    files.create_file(place->name("run.log"))->close();
    EXPECT_EQ(place->bytes("run.log"), "");
}

TEST_P(FileSystemContract, AReplacementTakesPlaceOnCloseAndADroppedOneLeavesTheOldFile)
{
    place->put("app.cfg", "OLD=1\r\n");
    {
        auto writer = files.replace_file(place->name("app.cfg"));
        writer->write_line(u"NEW=1");
        EXPECT_EQ(place->bytes("app.cfg"), "OLD=1\r\n");
        writer->close();
    }
    EXPECT_EQ(place->bytes("app.cfg"), "NEW=1\r\n");
    {
        auto writer = files.replace_file(place->name("app.cfg"));
        writer->write_line(u"LOST=1");
    }
    EXPECT_EQ(place->bytes("app.cfg"), "NEW=1\r\n");
    files.replace_file(place->name("fresh.cfg"))->close();
    EXPECT_EQ(place->bytes("fresh.cfg"), "");
    EXPECT_EQ(place->entries(), 2u) << "a save leaves nothing of its own beside the file";
}

TEST_P(FileSystemContract, AWriterThatIsClosedRefusesMoreLines)
{
    auto writer = files.create_file(place->name("run.log"));
    writer->close();
    writer->close();
    EXPECT_EQ(raised([&] { writer->write_line(u"late"); }).number(), 52);
    auto save = files.replace_file(place->name("app.cfg"));
    save->close();
    EXPECT_EQ(raised([&] { save->write_line(u"late"); }).number(), 52);
    EXPECT_EQ(place->bytes("run.log"), "");
    EXPECT_EQ(place->bytes("app.cfg"), "");
}

TEST_P(FileSystemContract, AMissingFileOrFolderHasItsNumber)
{
    expect_failure(raised([&] { files.read_all_text(place->name("missing.cfg")); }), 53, "File not found", "open",
                   "missing.cfg");
    expect_failure(raised([&] { files.read_all_text(place->name("missing/x.cfg")); }), 76, "Path not found", "open",
                   "missing/x.cfg");
    expect_failure(raised([&] { files.create_file(place->name("missing/x.log")); }), 76, "Path not found", "create",
                   "missing/x.log");
    expect_failure(raised([&] { files.replace_file(place->name("missing/x.cfg")); }), 76, "Path not found", "create",
                   "missing/x.cfg");
    expect_failure(raised([&] { files.delete_file(place->name("missing.cfg")); }), 53, "File not found", "delete",
                   "missing.cfg");
    EXPECT_FALSE(files.file_exists(place->name("missing.cfg")));
    EXPECT_EQ(place->entries(), 0u);
}

TEST_P(FileSystemContract, AFolderIsNoFile)
{
    files.create_folders(place->name("sub"));
    EXPECT_FALSE(files.file_exists(place->name("sub")));
    EXPECT_EQ(raised([&] { files.read_all_text(place->name("sub")); }).number(), 75);
    EXPECT_EQ(raised([&] { files.create_file(place->name("sub")); }).number(), 75);
    AutomationError replace = raised([&] { files.replace_file(place->name("sub")); });
    EXPECT_EQ(replace.description(),
              "Path/File access error: cannot replace '" + to_utf8(place->name("sub")) + "' (it is a folder)");
    EXPECT_EQ(place->entries(), 1u);
}

TEST_P(FileSystemContract, ANameWithoutAFilePartOrWithANulIsABadName)
{
    AutomationError empty = raised([&] { files.replace_file(u""); });
    EXPECT_EQ(empty.number(), 52);
    EXPECT_EQ(empty.description(), "Bad file name or number: cannot replace '' (no file name)");
    EXPECT_EQ(raised([&] { files.replace_file(place->name("sub/")); }).number(), 52);
    const BStr with_nul = place->name("app.cfg") + u'\0' + u".bak";
    const std::string shown = to_utf8(place->name("app.cfg")) + "\\0.bak";
    for (auto call : std::initializer_list<std::function<void()>>{
             [&] { files.replace_file(with_nul); }, [&] { files.create_file(with_nul); },
             [&] { files.read_all_text(with_nul); }, [&] { files.delete_file(with_nul); }}) {
        AutomationError nul = raised(call);
        EXPECT_EQ(nul.number(), 52);
        EXPECT_EQ(nul.description(), "Bad file name or number: '" + shown + "' holds a NUL character");
    }
    EXPECT_FALSE(files.file_exists(with_nul));
    EXPECT_EQ(place->entries(), 0u);
}

TEST_P(FileSystemContract, AReadOnlyFileIsRefusedAtOnceAndKept)
{
    place->put("locked.cfg", "OLD=1\r\n");
    place->make_read_only("locked.cfg");
    {
        auto plain_user = place->as_plain_user();
        expect_failure(raised([&] { files.replace_file(place->name("locked.cfg")); }), 70, "Permission denied",
                       "replace", "locked.cfg");
        EXPECT_EQ(raised([&] { files.create_file(place->name("locked.cfg")); }).number(), 70);
    }
    EXPECT_EQ(place->bytes("locked.cfg"), "OLD=1\r\n");
    EXPECT_EQ(files.read_all_text(place->name("locked.cfg")), u"OLD=1\r\n");
    EXPECT_EQ(place->entries(), 1u);
}

TEST_P(FileSystemContract, FoldersAreMadeWithTheirParentsAndAFileInTheWayIsRefused)
{
    files.create_folders(place->name("a/b/c"));
    files.create_folders(place->name("a/b/c"));
    files.create_file(place->name("a/b/c/run.log"))->close();
    EXPECT_TRUE(files.file_exists(place->name("a/b/c/run.log")));
    place->put("plain", "");
    EXPECT_EQ(raised([&] { files.create_folders(place->name("plain/sub")); }).number(), 75);
}

TEST_P(FileSystemContract, DeletingAFileRemovesIt)
{
    place->put("old.log", "x");
    files.delete_file(place->name("old.log"));
    EXPECT_FALSE(files.file_exists(place->name("old.log")));
    EXPECT_EQ(place->bytes("old.log"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Layers, FileSystemContract,
                         ::testing::Values(Layer{"MemoryFake", [] { return std::make_unique<testing::MemoryPlace>(); }},
                                           Layer{"SystemAdapter", [] { return testing::make_disk_place(); }}),
                         [](const ::testing::TestParamInfo<Layer>& layer) { return std::string(layer.param.name); });

}  // namespace
}  // namespace varne
