#include "spreadsheet/embedded/embedded_launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/automation_error.h"
#include "frame/late_binding.h"
#include "platform/system.h"
#include "tests/support/automation_errors.h"
#include "tests/unit/workbook/xls_test_support.h"

namespace varne {
namespace {

using testing::raised;

// Scripts' view of the model: properties by name, calls through late binding.
class ObjectModelTest : public ::testing::Test {
protected:
    static Ref<Dispatch> object(Dispatch& target, std::u16string_view name)
    {
        return to_object(get_property(target, name));
    }
    static Variant get(Dispatch& target, std::u16string_view name) { return get_property(target, name); }
    static BStr name_of(Dispatch& target) { return to_bstr(get_property(target, u"Name")); }
    static Variant call(Dispatch& target, std::u16string_view name, std::vector<Variant> args = {})
    {
        return invoke(target, name, args);
    }
    static Ref<Dispatch> item(Dispatch& collection, Variant index)
    {
        return to_object(call_default(collection, std::vector<Variant>{std::move(index)}));
    }
    Ref<Dispatch> add_workbook() { return to_object(call(*object(*app, u"Workbooks"), u"Add")); }
    Ref<Dispatch> sheet(Variant index) { return item(*object(*app, u"Sheets"), std::move(index)); }
    Ref<Dispatch> cells(Dispatch& sheet, Variant row, Variant column)
    {
        return to_object(call(sheet, u"Cells", {std::move(row), std::move(column)}));
    }

    embedded::EmbeddedLauncher launcher{system_file_system()};
    Ref<Dispatch> app = launcher.start_application();
};

constexpr const char* kNoSuchSheet = "Subscript out of range: workbook 'Book1' has no sheet ";

TEST_F(ObjectModelTest, ANewApplicationHasNoWorkbook)
{
    EXPECT_EQ(get(*object(*app, u"Workbooks"), u"Count"), Variant(0));
    for (auto name : {u"ActiveWorkbook", u"ActiveSheet", u"ActiveWindow"})
        EXPECT_EQ(object(*app, name), nullptr);
    AutomationError error = raised([&] { object(*app, u"Sheets"); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Sheets: no workbook is open");

    EXPECT_EQ(get(*app, u"Visible"), Variant(false));
    put_property(*app, u"visible", true);
    EXPECT_EQ(get(*app, u"Visible"), Variant(true));
}

TEST_F(ObjectModelTest, WorkbooksAreNamedInTurnAndIndexedFromOneOrByName)
{
    add_workbook();
    Ref<Dispatch> second = add_workbook();
    EXPECT_EQ(name_of(*second), u"Book2");
    EXPECT_EQ(name_of(*object(*app, u"ActiveWorkbook")), u"Book2");

    Ref<Dispatch> workbooks = object(*app, u"Workbooks");
    EXPECT_EQ(get(*workbooks, u"Count"), Variant(2));
    EXPECT_EQ(name_of(*item(*workbooks, 1)), u"Book1");
    EXPECT_EQ(name_of(*item(*workbooks, u"BOOK2")), u"Book2");
    EXPECT_EQ(name_of(*to_object(call(*app, u"Workbooks", {1}))), u"Book1");

    AutomationError error = raised([&] { item(*workbooks, 3); });
    EXPECT_EQ(error.number(), 9);
    EXPECT_EQ(error.description(), "Subscript out of range: there is no workbook 3 of 2");
    error = raised([&] { item(*workbooks, u"Book3"); });
    EXPECT_EQ(error.description(), "Subscript out of range: no workbook named 'Book3' is open");
    error = raised([&] { call(*workbooks, u"Add", {u"template.xlt"}); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(),
              "Application-defined or object-defined error: Workbooks.Add: templates are not supported; leave "
              "Template out");
}

TEST_F(ObjectModelTest, SheetsAreIndexedFromOneOrByNameInAnyCase)
{
    add_workbook();
    Ref<Dispatch> sheets = object(*app, u"Worksheets");
    EXPECT_EQ(get(*sheets, u"Count"), Variant(3));
    EXPECT_EQ(name_of(*item(*sheets, 2)), u"Sheet2");
    EXPECT_EQ(name_of(*item(*sheets, 3.0)), u"Sheet3");
    EXPECT_EQ(name_of(*item(*sheets, u"sHEET1")), u"Sheet1");
    // Item read as a property is the method, to be called.
    Ref<Dispatch> item_method = object(*sheets, u"Item");
    EXPECT_EQ(name_of(*to_object(call_default(*item_method, std::vector<Variant>{2}))), u"Sheet2");

    for (auto [index, text] : {std::pair{Variant(u"Nope"), "'Nope'"}, std::pair{Variant(0), "0 (it has 3)"},
                               std::pair{Variant(4), "4 (it has 3)"}}) {
        AutomationError error = raised([&] { item(*sheets, index); });
        EXPECT_EQ(error.number(), 9);
        EXPECT_EQ(error.description(), kNoSuchSheet + std::string(text));
    }
    EXPECT_EQ(raised([&] { item(*sheets, sheets); }).number(), error_number::kTypeMismatch);
    EXPECT_EQ(raised([&] { call(*sheets, u"Item"); }).number(), error_number::kArgumentNotOptional);
}

TEST_F(ObjectModelTest, SheetNamesAreCheckedByTheEngine)
{
    add_workbook();
    put_property(*sheet(1), u"Name", u"Summary");
    EXPECT_EQ(get(*sheet(u"SUMMARY"), u"Index"), Variant(1));
    put_property(*sheet(1), u"Name", u"SUMMARY");
    EXPECT_EQ(name_of(*sheet(1)), u"SUMMARY");

    AutomationError error = raised([&] { put_property(*sheet(2), u"Name", u"summary"); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(), "That name is already taken. Try a different one.");
    error = raised([&] { put_property(*sheet(2), u"Name", u"a/b"); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(name_of(*sheet(2)), u"Sheet2");
}

TEST_F(ObjectModelTest, SheetsAddGoesBeforeTheActiveSheetAndBecomesActive)
{
    add_workbook();
    Ref<Dispatch> sheets = object(*app, u"Sheets");
    Ref<Dispatch> added = to_object(call(*sheets, u"Add"));
    EXPECT_EQ(name_of(*added), u"Sheet4");
    EXPECT_EQ(get(*added, u"Index"), Variant(1));
    EXPECT_EQ(name_of(*object(*app, u"ActiveSheet")), u"Sheet4");

    added = to_object(call(*sheets, u"Add", {Variant(), sheet(u"Sheet3"), 2, -4167}));
    EXPECT_EQ(name_of(*added), u"Sheet6");
    EXPECT_EQ(get(*added, u"Index"), Variant(6));
    EXPECT_EQ(name_of(*sheet(5)), u"Sheet5");

    AutomationError error = raised([&] { call(*sheets, u"Add", {sheet(1), sheet(2)}); });
    EXPECT_EQ(error.description(),
              "Application-defined or object-defined error: Sheets.Add: give Before or After, not both");
    error = raised([&] { call(*sheets, u"Add", {Variant(), Variant(), 1, 3}); });
    EXPECT_EQ(error.description(),
              "Application-defined or object-defined error: Sheets.Add: only worksheets (type -4167) can be added, "
              "not type 3");
    EXPECT_EQ(get(*sheets, u"Count"), Variant(6));
}

TEST_F(ObjectModelTest, CellValuesKeepTheirKinds)
{
    add_workbook();
    Ref<Dispatch> sheet2 = sheet(2);
    auto value_at = [&](int32_t row, int32_t column) { return get(*cells(*sheet2, row, column), u"Value"); };
    const Variant written[] = {5, 2.5, u"=1+1", true, Variant::Date{45351.5}, u"'quoted"};
    const Variant read[] = {5.0, 2.5, u"=1+1", true, Variant::Date{45351.5}, u"'quoted"};
    for (int32_t row = 1; row <= 6; ++row)
        put_property(*cells(*sheet2, row, u"B"), u"Value", written[row - 1]);
    for (int32_t row = 1; row <= 6; ++row)
        EXPECT_EQ(value_at(row, 2), read[row - 1]) << "row " << row;
    EXPECT_EQ(get(*cells(*sheet2, 5, 2), u"Value2"), Variant(45351.5));
    EXPECT_TRUE(value_at(7, 2).is_empty());

    put_property(*cells(*sheet2, 1, 2), u"Value", u"");
    put_property(*cells(*sheet2, 2, 2), u"Value", Variant());
    EXPECT_TRUE(value_at(1, 2).is_empty());
    EXPECT_TRUE(value_at(2, 2).is_empty());
    // A range given as a value stands for its own value.
    put_property(*cells(*sheet2, 9, 9), u"Value", cells(*sheet2, 3, 2));
    EXPECT_EQ(value_at(9, 9), Variant(u"=1+1"));
    EXPECT_EQ(raised([&] { put_property(*cells(*sheet2, 1, 1), u"Value", sheet2); }).number(),
              error_number::kNotSupported);
}

TEST_F(ObjectModelTest, RangesAndCellsAddressTheSheet)
{
    add_workbook();
    Ref<Dispatch> sheet1 = sheet(1);
    Ref<Dispatch> cell = cells(*sheet1, 4, u"c");
    EXPECT_EQ(get(*cell, u"Row"), Variant(4));
    EXPECT_EQ(get(*cell, u"Column"), Variant(3));
    EXPECT_EQ(get(*cell, u"Address"), Variant(u"$C$4"));
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Cells", {257})), u"Address"), Variant(u"$A$2"));

    Ref<Dispatch> area = to_object(call(*sheet1, u"Range", {u"b3", cell}));
    EXPECT_EQ(get(*area, u"Address"), Variant(u"$B$3:$C$4"));
    EXPECT_EQ(get(*area, u"Count"), Variant(4));
    put_property(*area, u"Value", 7);
    EXPECT_EQ(get(*cell, u"Value"), Variant(7.0));
    EXPECT_EQ(get(*to_object(call(*app, u"Range", {u"B3"})), u"Value"), Variant(7.0));

    AutomationError error = raised([&] { get(*area, u"Value"); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Value: B3:C4 is more than one cell, "
                                   "and its value would be an array; read its cells one by one");
    error = raised([&] { cells(*sheet1, 0, 1); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Cells(0, 1) is outside the sheet, "
                                   "which has rows 1 to 65536 and columns 1 to 256");
    EXPECT_EQ(raised([&] { cells(*sheet1, 1, u"IW"); }).number(), 1004);
    error = raised([&] { call(*sheet1, u"Range", {u"ZZ9"}); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Range: 'ZZ9' is not a cell reference "
                                   "of the sheet");
    error = raised([&] { call(*sheet1, u"Range", {cells(*sheet(2), 1, 1)}); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Range: the range given is on another "
                                   "sheet");
}

TEST_F(ObjectModelTest, SelectWorksInTheActiveWorkbookAndActivateSwitchesToIt)
{
    add_workbook();
    Ref<Dispatch> first_sheet3 = sheet(3);
    add_workbook();
    AutomationError error = raised([&] { call(*first_sheet3, u"Select"); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(),
              "Application-defined or object-defined error: Select: workbook 'Book1' is not the active workbook");

    call(*first_sheet3, u"Activate");
    EXPECT_EQ(name_of(*object(*app, u"ActiveWorkbook")), u"Book1");
    EXPECT_EQ(name_of(*object(*app, u"ActiveSheet")), u"Sheet3");
    // Select read as a property is the method; calling it selects.
    call_default(*object(*sheet(2), u"Select"), {});
    EXPECT_EQ(name_of(*object(*app, u"ActiveSheet")), u"Sheet2");
}

TEST_F(ObjectModelTest, WindowStateTakesTheThreeStates)
{
    add_workbook();
    Ref<Dispatch> window = object(*app, u"ActiveWindow");
    EXPECT_EQ(get(*window, u"WindowState"), Variant(-4143));
    for (int32_t state : {-4137, -4140, -4143}) {
        put_property(*window, u"WindowState", state);
        EXPECT_EQ(get(*window, u"WindowState"), Variant(state));
    }
    AutomationError error = raised([&] { put_property(*window, u"WindowState", 1); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: WindowState: 1 is none of -4137 "
                                   "(maximized), -4140 (minimized) and -4143 (normal)");
}

TEST_F(ObjectModelTest, NothingIsReachedAfterQuit)
{
    add_workbook();
    Ref<Dispatch> sheet1 = sheet(1);
    std::vector<Ref<Dispatch>> held{app,
                                    object(*app, u"Workbooks"),
                                    object(*app, u"ActiveWorkbook"),
                                    object(*app, u"Sheets"),
                                    object(*app, u"ActiveWindow"),
                                    sheet1,
                                    cells(*sheet1, 1, 1),
                                    object(*sheet1, u"Select")};
    call(*app, u"Quit");
    for (const auto& target : held) {
        AutomationError error = raised([&] {
            call_default(*target, {});
            get(*target, u"Name");
        });
        EXPECT_EQ(error.number(), error_number::kServerUnavailable);
        EXPECT_EQ(error.description(), "The RPC server is unavailable: the spreadsheet application has quit");
    }
    EXPECT_EQ(raised([&] { call(*app, u"Quit"); }).number(), error_number::kServerUnavailable);
}

TEST_F(ObjectModelTest, ClosedWorkbooksAndDeletedSheetsAreDisconnected)
{
    Ref<Dispatch> book = add_workbook();
    Ref<Dispatch> sheet2 = sheet(2);
    Ref<Dispatch> cell = cells(*sheet2, 1, 1);
    call(*sheet2, u"Delete");
    EXPECT_EQ(get(*object(*app, u"Sheets"), u"Count"), Variant(2));
    for (const auto& target : {sheet2, cell}) {
        AutomationError error = raised([&] { get(*target, u"Row"); });
        EXPECT_EQ(error.number(), error_number::kObjectDisconnected);
        EXPECT_EQ(error.description(),
                  "The object invoked has disconnected from its clients: sheet 'Sheet2' has been deleted");
    }
    call(*sheet(1), u"Delete");
    AutomationError error = raised([&] { call(*sheet(1), u"Delete"); });
    EXPECT_EQ(error.description(), "A workbook must contain at least one visible worksheet.");

    Ref<Dispatch> sheet3 = sheet(1);
    call(*book, u"Close");
    EXPECT_EQ(get(*object(*app, u"Workbooks"), u"Count"), Variant(0));
    EXPECT_EQ(object(*app, u"ActiveWorkbook"), nullptr);
    for (const auto& target : {book, sheet3}) {
        error = raised([&] { name_of(*target); });
        EXPECT_EQ(error.number(), error_number::kObjectDisconnected);
        EXPECT_EQ(error.description(),
                  "The object invoked has disconnected from its clients: workbook 'Book1' has been closed");
    }
}

TEST_F(ObjectModelTest, SaveAsWritesTheWorkbookWithItsActiveSheetAndTakesTheFileName)
{
    workbook::testing::ScratchFolder folder;
    Ref<Dispatch> book = add_workbook();
    call(*sheet(2), u"Select");
    put_property(*cells(*sheet(2), 1, 1), u"Value", u"kept");
    std::string path = folder.file("out.txt");
    call(*book, u"SaveAs", {from_utf8(path), 43, u"", u"", true, false, 1});
    EXPECT_EQ(name_of(*book), u"out.txt");
    EXPECT_EQ(get(*book, u"FullName"), Variant(from_utf8(path)));
    EXPECT_EQ(get(*book, u"Path"), Variant(from_utf8(folder.path().string())));

    nlohmann::json saved = workbook::testing::read_back(path);
    EXPECT_EQ(saved["sheets"][1]["selected"], 1);
    EXPECT_EQ(saved["sheets"][1]["cells"][0][3], "kept");
    EXPECT_EQ(saved["records"]["filesharing"]["read_only_recommended"], 1);
    EXPECT_EQ(saved["records"]["backup"], 0);

    AutomationError error = raised([&] { call(*book, u"SaveAs", {from_utf8(folder.file("b.xls")), 51}); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: SaveAs: file format 51 is not "
                                   "supported; 43, 56 and -4143 save a 97-2003 workbook");
    error = raised([&] { call(*book, u"SaveAs", {from_utf8(folder.file("b.xls")), 43, u"secret"}); });
    EXPECT_EQ(error.description(),
              "Application-defined or object-defined error: SaveAs: files protected by a password are not supported");
    std::string missing = folder.file("no/such/folder.xls");
    error = raised([&] { call(*book, u"SaveAs", {from_utf8(missing)}); });
    EXPECT_EQ(error.number(), error_number::kPathNotFound);
    EXPECT_EQ(error.description(), "Path not found: cannot create '" + missing + "' (No such file or directory)");
    EXPECT_EQ(name_of(*book), u"out.txt");
    EXPECT_EQ(folder.entry_count(), 1u);
}

TEST_F(ObjectModelTest, ColumnsTakeWidthsFormatsAndAutoFit)
{
    add_workbook();
    Ref<Dispatch> sheet1 = sheet(1);
    Ref<Dispatch> column_b = to_object(call(*sheet1, u"Columns", {2}));
    EXPECT_EQ(get(*column_b, u"Address"), Variant(u"$B$1:$B$65536"));
    put_property(*column_b, u"ColumnWidth", 30);
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Columns", {u"b"})), u"ColumnWidth"), Variant(30.0));
    EXPECT_EQ(get(*cells(*sheet1, 1, 1), u"ColumnWidth"), Variant(8.43));
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Range", {u"A1:B1"})), u"ColumnWidth"), Variant(Variant::Null{}));
    AutomationError error = raised([&] { put_property(*column_b, u"ColumnWidth", 256); });
    EXPECT_EQ(error.number(), 1004);
    error = raised([&] { call(*sheet1, u"Columns", {u"A:IW"}); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: Columns(A:IW) names no columns of "
                                   "the sheet, which has columns 1 to 256 (A to IV)");

    Ref<Dispatch> time = cells(*sheet1, 2, 3);
    put_property(*time, u"Value", Variant(Variant::Date{0.25}));
    put_property(*time, u"NumberFormat", u"hh:mm:ss");
    EXPECT_EQ(get(*time, u"NumberFormat"), Variant(u"hh:mm:ss"));
    EXPECT_EQ(get(*cells(*sheet1, 3, 3), u"NumberFormat"), Variant(u"General"));

    put_property(*cells(*sheet1, 1, 1), u"Value", u"A heading much wider than its column");
    put_property(*cells(*sheet1, 5, 1), u"Value", u"Short");
    error = raised([&] { call(*to_object(call(*sheet1, u"Range", {u"A1:A5"})), u"AutoFit"); });
    EXPECT_EQ(error.description(), "Application-defined or object-defined error: AutoFit method of Range class failed: "
                                   "A1:A5 is not whole columns; fit its columns with .Columns.AutoFit()");
    // The columns of a range fit to the range's own cells; whole columns to all of theirs.
    call(*object(*to_object(call(*sheet1, u"Range", {u"A2:A5"})), u"Columns"), u"AutoFit");
    double short_width = to_r8(get(*cells(*sheet1, 1, 1), u"ColumnWidth"));
    call(*object(*cells(*sheet1, 1, 1), u"EntireColumn"), u"AutoFit");
    double long_width = to_r8(get(*cells(*sheet1, 1, 1), u"ColumnWidth"));
    EXPECT_LT(short_width, 8.43);
    EXPECT_GT(long_width, 30);
    call(*object(*sheet1, u"Columns"), u"AutoFit");
    EXPECT_EQ(to_r8(get(*column_b, u"ColumnWidth")), 30);  // B holds nothing and keeps its width
    EXPECT_GE(to_r8(get(*time, u"ColumnWidth")), 8);  // 06:00:00
}

TEST_F(ObjectModelTest, ColumnsAndRowsAreTheItemsOfRangesTakenSo)
{
    workbook::testing::ScratchFolder folder;
    Ref<Dispatch> book = add_workbook();
    Ref<Dispatch> sheet1 = sheet(1);
    auto address = [&](const Ref<Dispatch>& range) { return to_utf8(to_bstr(get(*range, u"Address"))); };
    // A script's sheet.Columns(1) reads Columns, then calls what it gave with the argument.
    Ref<Dispatch> column_a = item(*object(*sheet1, u"Columns"), 1);
    EXPECT_EQ(address(column_a), "$A$1:$A$65536");
    put_property(*column_a, u"ColumnWidth", 30);
    Ref<Dispatch> b_to_d = item(*object(*sheet1, u"Columns"), u"B:D");
    EXPECT_EQ(address(b_to_d), "$B$1:$D$65536");
    EXPECT_EQ(get(*b_to_d, u"Count"), Variant(3));
    put_property(*b_to_d, u"ColumnWidth", 0);
    EXPECT_EQ(address(item(*b_to_d, 2)), "$C$1:$C$65536");

    Ref<Dispatch> row_2 = item(*object(*sheet1, u"Rows"), 2);
    EXPECT_EQ(address(row_2), "$A$2:$IV$2");
    EXPECT_EQ(get(*row_2, u"RowHeight"), Variant(12.75));
    put_property(*row_2, u"RowHeight", 30);
    put_property(*to_object(call(*sheet1, u"Rows", {u"5:4"})), u"RowHeight", 0);
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Rows", {u"2"})), u"RowHeight"), Variant(30.0));
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Range", {u"A1:A2"})), u"RowHeight"), Variant(Variant::Null{}));
    EXPECT_EQ(get(*object(*cells(*sheet1, 4, 2), u"EntireRow"), u"Count"), Variant(1));
    EXPECT_EQ(get(*object(*sheet1, u"Rows"), u"Count"), Variant(65536));

    Ref<Dispatch> block = to_object(call(*sheet1, u"Range", {u"B2:D4"}));
    EXPECT_EQ(address(item(*block, 4)), "$B$3") << "cells count along the rows";
    EXPECT_EQ(address(to_object(call(*block, u"Item", {2, 3}))), "$D$3");
    EXPECT_EQ(address(to_object(call(*block, u"Rows", {3}))), "$B$4:$D$4");
    EXPECT_EQ(address(item(*object(*block, u"Columns"), 2)), "$C$2:$C$4");
    EXPECT_EQ(get(*object(*block, u"Rows"), u"Count"), Variant(3));
    put_property(*item(*block, 1), u"Value", u"kept");

    AutomationError error = raised([&] { call(*sheet1, u"Rows", {u"0"}); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(
        error.description(),
        "Application-defined or object-defined error: Rows(0) names no rows of the sheet, which has rows 1 to 65536");
    error = raised([&] { put_property(*row_2, u"RowHeight", 410); });
    EXPECT_EQ(error.number(), 1004);
    error = raised([&] { item(*object(*sheet1, u"Rows"), 65537); });
    EXPECT_EQ(error.number(), 1004);
    error = raised([&] { put_property(*column_a, u"RowHieght", 10); });
    EXPECT_EQ(error.number(), 438);
    EXPECT_NE(error.description().find("RowHieght"), std::string::npos) << error.description();

    std::string path = folder.file("sized.xls");
    call(*book, u"SaveAs", {from_utf8(path)});
    nlohmann::json saved = workbook::testing::read_back(path)["sheets"][0];
    EXPECT_EQ(saved["column_widths"]["1"], nlohmann::json({{"width", 7862}, {"hidden", false}}));
    EXPECT_EQ(saved["column_widths"]["3"]["hidden"], true);
    EXPECT_EQ(saved["row_heights"], nlohmann::json({{"2", {{"height", 600}, {"hidden", false}}},
                                                    {"4", {{"height", 255}, {"hidden", true}}},
                                                    {"5", {{"height", 255}, {"hidden", true}}}}));
    EXPECT_EQ(saved["cells"], nlohmann::json::parse(R"([[2, 2, "text", "kept"]])"));
}

TEST_F(ObjectModelTest, AHeightForEveryRowIsTheSheetsStandardHeight)
{
    workbook::testing::ScratchFolder folder;
    Ref<Dispatch> book = add_workbook();
    Ref<Dispatch> sheet1 = sheet(1);
    put_property(*object(*sheet1, u"Rows"), u"RowHeight", 20);
    put_property(*item(*object(*sheet1, u"Rows"), 3), u"RowHeight", 30);
    EXPECT_EQ(get(*object(*sheet1, u"Rows"), u"RowHeight"), Variant(Variant::Null{}));
    EXPECT_EQ(get(*to_object(call(*sheet1, u"Rows", {u"4:65536"})), u"RowHeight"), Variant(20.0));

    std::string path = folder.file("rows.xls");
    call(*book, u"SaveAs", {from_utf8(path)});
    nlohmann::json saved = workbook::testing::read_back(path)["sheets"][0];
    EXPECT_EQ(saved["row_records"], 1);
    EXPECT_EQ(saved["default_row"]["height"], 400);
    EXPECT_EQ(saved["row_heights"], nlohmann::json({{"3", {{"height", 600}, {"hidden", false}}}}));
}

}  // namespace
}  // namespace varne
