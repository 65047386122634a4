#include "spreadsheet/embedded/embedded_launcher.h"

#include <gtest/gtest.h>

#include <vector>

#include "frame/late_binding.h"
#include "tests/support/memory_file_system.h"

namespace varne {
namespace {

// A saved workbook's Name and Path, split the same way whichever system the library runs on.
class WorkbookPathTest : public ::testing::Test {
protected:
    // Saves a new workbook as `path` and answers its Name and Path.
    std::pair<Variant, Variant> saved_as(const BStr& path)
    {
        Ref<Dispatch> book = to_object(invoke(*to_object(get_property(*app, u"Workbooks")), u"Add", {}));
        invoke(*book, u"SaveAs", std::vector<Variant>{path});
        return {get_property(*book, u"Name"), get_property(*book, u"Path")};
    }

    testing::MemoryFileSystem files;
    embedded::EmbeddedLauncher launcher{files};
    Ref<Dispatch> app = launcher.start_application();
};

TEST_F(WorkbookPathTest, EitherSeparatorEndsTheFolder)
{
    files.create_folders(u"runs/week 1");
    files.create_folders(u"runs/week 3");
    files.create_folders(u"runs\\week 2");
    EXPECT_EQ(saved_as(u"runs/week 1/steps.xls"), std::pair(Variant(u"steps.xls"), Variant(u"runs/week 1")));
    EXPECT_EQ(saved_as(u"C:\\runs\\steps.xls"), std::pair(Variant(u"steps.xls"), Variant(u"C:\\runs")));
    EXPECT_EQ(saved_as(u"runs\\week 2/mixed.xls"), std::pair(Variant(u"mixed.xls"), Variant(u"runs\\week 2")));
    EXPECT_EQ(saved_as(u"runs/week 3\\last.xls"), std::pair(Variant(u"last.xls"), Variant(u"runs/week 3")));
}

TEST_F(WorkbookPathTest, ARootKeepsItsSeparatorAndABareNameHasNoPath)
{
    EXPECT_EQ(saved_as(u"/steps.xls"), std::pair(Variant(u"steps.xls"), Variant(u"/")));
    EXPECT_EQ(saved_as(u"C:\\steps.xls"), std::pair(Variant(u"steps.xls"), Variant(u"C:\\")));
    EXPECT_EQ(saved_as(u"steps.xls"), std::pair(Variant(u"steps.xls"), Variant(u"")));
}

}  // namespace
}  // namespace varne
