#include "spreadsheet/excel_conn.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <vector>

#include "tests/support/automation_errors.h"
#include "tests/unit/spreadsheet/recording_spreadsheet.h"

namespace varne {
namespace {

using ::testing::ElementsAre;
using testing::raised;
using testing::RecordingSpreadsheet;

constexpr const char* kSelect = "call Application.Sheets('Summary').Select()";
constexpr const char* kMaximize = "put Application.ActiveWindow.WindowState = i4 -4137";
constexpr const char* kSaveAs = "call Application.ActiveWorkbook.SaveAs('out.xls', i4 43, '', '', true, false, i4 1)";

class ExcelConnTest : public ::testing::Test {
protected:
    // Creates the object on the recording application and forgets the creation's calls.
    Ref<Dispatch> create()
    {
        Ref<Dispatch> conn = make_object<ExcelConn>(spreadsheet);
        spreadsheet.calls().clear();
        return conn;
    }
    void save(Dispatch& conn, std::vector<Variant> args) { invoke(conn, u"SaveWorkbook", args); }

    RecordingSpreadsheet spreadsheet;
};

TEST_F(ExcelConnTest, CreationStartsTheApplicationAndAddsOneWorkbook)
{
    Ref<Dispatch> conn = make_object<ExcelConn>(spreadsheet);
    EXPECT_THAT(spreadsheet.calls(),
                ElementsAre("start", "get Application.Workbooks", "call Application.Workbooks.Add()"));

    Variant first = invoke(*conn, u"GetXL");
    Variant second = invoke(*conn, u"GetXL");
    ASSERT_EQ(first.type(), VarType::Object);
    EXPECT_EQ(first.object(), second.object());
    EXPECT_EQ(spreadsheet.calls().size(), 3u);
}

TEST_F(ExcelConnTest, AFailedCreationHandsOutNothing)
{
    int64_t alive = Object::live_objects();
    spreadsheet.fail("call Application.Workbooks.Add()", 1004, "Add refused");
    AutomationError error = raised([&] { make_object<ExcelConn>(spreadsheet); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(), "Add refused");
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("start", "get Application.Workbooks",
                                                 "call Application.Workbooks.Add()", "released Application"));
    EXPECT_EQ(Object::live_objects(), alive);
}

TEST_F(ExcelConnTest, SaveWorkbookSelectsMaximizesAndSavesInThatOrder)
{
    Ref<Dispatch> conn = create();
    save(*conn, {u"out.xls", u"Summary"});
    EXPECT_THAT(spreadsheet.calls(),
                ElementsAre("get Application.Sheets", "call Application.Sheets('Summary')", kSelect,
                            "get Application.ActiveWindow", kMaximize, "get Application.ActiveWorkbook", kSaveAs));
}

TEST_F(ExcelConnTest, WithoutADefaultSheetNoSheetIsSelected)
{
    Ref<Dispatch> conn = create();
    save(*conn, {u"out.xls"});
    save(*conn, {u"out.xls", u""});
    std::vector<std::string> once{"get Application.ActiveWindow", kMaximize, "get Application.ActiveWorkbook", kSaveAs};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(spreadsheet.calls(), twice);
}

// Each failure ends the member at its own step: what came before stays done, nothing after runs.
TEST_F(ExcelConnTest, AFailureStopsAtItsStep)
{
    struct Case {
        std::string failing;
        size_t calls_made;
    };
    for (const Case& step : {Case{"call Application.Sheets('Summary')", 2}, Case{kSelect, 3},
                             Case{"get Application.ActiveWindow", 4}, Case{kMaximize, 5}, Case{kSaveAs, 7}}) {
        RecordingSpreadsheet failing;
        Ref<Dispatch> conn = make_object<ExcelConn>(failing);
        failing.calls().clear();
        failing.fail(step.failing, 9, "Subscript out of range");
        AutomationError error = raised([&] { save(*conn, {u"out.xls", u"Summary"}); });
        EXPECT_EQ(error.number(), 9) << step.failing;
        EXPECT_EQ(error.description(), "Subscript out of range") << step.failing;
        EXPECT_EQ(failing.calls().size(), step.calls_made) << step.failing;
        EXPECT_EQ(failing.calls().back(), step.failing);
    }
}

TEST_F(ExcelConnTest, AMissingActiveWindowIsAnObjectRequired)
{
    Ref<Dispatch> conn = create();
    spreadsheet.answer_nothing("Application.ActiveWindow");
    AutomationError error = raised([&] { save(*conn, {u"out.xls"}); });
    EXPECT_EQ(error.number(), error_number::kObjectRequired);
    EXPECT_EQ(error.description(), "Object required: the spreadsheet application has no ActiveWindow");
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("get Application.ActiveWindow"));
}

TEST_F(ExcelConnTest, ReleaseQuitsAndLetsGo)
{
    create();
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("call Application.Quit()", "released Application"));
}

TEST_F(ExcelConnTest, ReleaseIgnoresAFailingQuit)
{
    Ref<Dispatch> conn = create();
    spreadsheet.fail("call Application.Quit()", error_number::kServerUnavailable, "The RPC server is unavailable");
    conn = nullptr;
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("call Application.Quit()", "released Application"));
}

TEST_F(ExcelConnTest, TheApplicationOutlivesTheObjectThatHandedItOut)
{
    Ref<Dispatch> conn = create();
    Ref<Dispatch> application = invoke(*conn, u"GetXL").object();
    conn = nullptr;
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("call Application.Quit()"));
    application = nullptr;
    EXPECT_THAT(spreadsheet.calls(), ElementsAre("call Application.Quit()", "released Application"));
}

}  // namespace
}  // namespace varne
