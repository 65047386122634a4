#include "spreadsheet/workbook/workbook.h"

#include "frame/automation_error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace varne::workbook {
namespace {

const std::string kInvalidName = "You typed an invalid name for a sheet or chart. Make sure that:\n"
                                 "\u2022 The name that you type does not exceed 31 characters.\n"
                                 "\u2022 The name does not contain any of the following characters: : \\ / ? * [ or ]\n"
                                 "\u2022 You did not leave the name blank.";
const std::string kNameTaken = "That name is already taken. Try a different one.";
const std::string kObjectDefined = "Application-defined or object-defined error";

void expect_error(const std::function<void()>& call, int32_t number, const std::string& description)
{
    try {
        call();
        ADD_FAILURE() << "no error raised, expected " << number << ": " << description;
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), number);
        EXPECT_EQ(error.description(), description);
    }
}

std::vector<std::u16string> names(const Workbook& workbook)
{
    std::vector<std::u16string> result;
    for (size_t i = 0; i < workbook.sheet_count(); ++i)
        result.push_back(workbook.sheet(i).name());
    return result;
}

TEST(WorkbookSheets, NewWorkbookHasThreeSheetsWithTheFirstActive)
{
    Workbook workbook;
    EXPECT_EQ(names(workbook), (std::vector<std::u16string>{u"Sheet1", u"Sheet2", u"Sheet3"}));
    EXPECT_EQ(workbook.active_sheet(), 0u);
    EXPECT_EQ(workbook.window_state(), WindowState::normal);
}

TEST(WorkbookSheets, SheetNamesFollowTheProgramsRules)
{
    Workbook workbook;
    const std::u16string refused[] = {u"",    u"a:b", u"a\\b",    u"a/b",     u"a?b", u"a*b",
                                      u"a[b", u"a]b", u"'quoted", u"quoted'", u"'",   std::u16string(32, u'x')};
    for (const auto& name : refused) {
        expect_error([&] { workbook.rename_sheet(0, name); }, 1004, kInvalidName);
        if (!name.empty())  // an empty name asks for the next default name
            expect_error([&] { workbook.add_sheet(0, name); }, 1004, kInvalidName);
    }
    const std::u16string accepted[] = {std::u16string(31, u'x'), u"it's",
                                       u"Q1 (2024) - €",         u"Данные",
                                       u"\U0001F600 smile",      u"a.b,c;d!e@f#g$h%i^j&k(l)m{n}o"};
    for (const auto& name : accepted) {
        EXPECT_NO_THROW(workbook.rename_sheet(0, name));
        EXPECT_EQ(workbook.sheet(0).name(), name);
    }
    EXPECT_EQ(workbook.sheet_count(), 3u);
}

TEST(WorkbookSheets, NamesAreUniqueIgnoringCase)
{
    Workbook workbook;
    expect_error([&] { workbook.rename_sheet(0, u"SHEET2"); }, 1004, kNameTaken);
    expect_error([&] { workbook.add_sheet(3, u"sheet3"); }, 1004, kNameTaken);
    // A sheet may take its own name in another case.
    workbook.rename_sheet(0, u"SHEET1");
    EXPECT_EQ(workbook.sheet(0).name(), u"SHEET1");
    EXPECT_EQ(workbook.find_sheet(u"sheet1"), 0u);
    EXPECT_EQ(workbook.find_sheet(u"Sheet4"), std::nullopt);
    workbook.rename_sheet(1, u"Daten");
    expect_error([&] { workbook.rename_sheet(2, u"DATEN"); }, 1004, kNameTaken);
}

TEST(WorkbookSheets, AddedSheetsTakeTheNextFreeNumberAndKeepTheActiveSheet)
{
    Workbook workbook;
    workbook.set_active_sheet(1);
    Worksheet& first = workbook.add_sheet(0);
    EXPECT_EQ(first.name(), u"Sheet4");
    EXPECT_EQ(workbook.active_sheet(), 2u);
    EXPECT_EQ(workbook.sheet(workbook.active_sheet()).name(), u"Sheet2");

    workbook.rename_sheet(1, u"Summary");
    workbook.add_sheet(workbook.sheet_count(), u"sheet6");
    // Sheet5 is free; Sheet6 is taken in another case, so the counter moves past it.
    EXPECT_EQ(workbook.add_sheet(workbook.sheet_count()).name(), u"Sheet7");
    EXPECT_EQ(names(workbook),
              (std::vector<std::u16string>{u"Sheet4", u"Summary", u"Sheet2", u"Sheet3", u"sheet6", u"Sheet7"}));
    expect_error([&] { workbook.add_sheet(7); }, 9, "Subscript out of range");
}

TEST(WorkbookSheets, SheetsKeepTheirAddressWhenOthersAreAddedOrRemoved)
{
    Workbook workbook;
    Worksheet& third = workbook.sheet(2);
    third.set_cell({1, 1}, 42.0);
    for (int i = 0; i < 20; ++i)
        workbook.add_sheet(0);
    workbook.remove_sheet(0);
    EXPECT_EQ(&workbook.sheet(*workbook.find_sheet(u"Sheet3")), &third);
    EXPECT_EQ(std::get<double>(third.cell({1, 1})), 42.0);
}

TEST(WorkbookSheets, RemovingMovesTheActiveSheetOnlyWhenItGoes)
{
    Workbook workbook;
    workbook.set_active_sheet(2);
    workbook.remove_sheet(0);
    EXPECT_EQ(workbook.sheet(workbook.active_sheet()).name(), u"Sheet3");
    workbook.remove_sheet(1);  // the active, last sheet: the one before it takes over
    EXPECT_EQ(workbook.sheet(workbook.active_sheet()).name(), u"Sheet2");
    expect_error([&] { workbook.remove_sheet(0); }, 1004, "A workbook must contain at least one visible worksheet.");
    expect_error([&] { workbook.remove_sheet(1); }, 9, "Subscript out of range");
    expect_error([&] { workbook.set_active_sheet(1); }, 9, "Subscript out of range");
    expect_error([&] { workbook.sheet(1); }, 9, "Subscript out of range");
}

TEST(WorksheetCells, HoldEveryKindOfValue)
{
    Worksheet sheet(u"Values");
    sheet.set_cell({1, 1}, 1234.5);
    sheet.set_cell({1, 2}, std::u16string(u"Négatif € 日本"));
    sheet.set_cell({1, 3}, true);
    sheet.set_cell({1, 4}, false);
    sheet.set_cell({1, 5}, DateTime{45351.5});
    EXPECT_EQ(sheet.cell({1, 1}), CellValue(1234.5));
    EXPECT_EQ(sheet.cell({1, 2}), CellValue(std::u16string(u"Négatif € 日本")));
    EXPECT_EQ(sheet.cell({1, 3}), CellValue(true));
    EXPECT_EQ(sheet.cell({1, 4}), CellValue(false));
    EXPECT_EQ(sheet.cell({1, 5}), CellValue(DateTime{45351.5}));
    EXPECT_EQ(sheet.cell({1, 6}), CellValue());
    EXPECT_EQ(sheet.cell({9, 9}), CellValue());
    EXPECT_EQ(sheet.cell_count(), 5u);
}

TEST(WorksheetCells, OverwritingAndEmptyingKeepTheStoreConsistent)
{
    Worksheet sheet(u"Store");
    sheet.set_cell({3, 5}, std::u16string(u"first"));
    sheet.set_cell({3, 2}, std::u16string(u"second"));
    sheet.set_cell({3, 5}, 7.0);  // a text replaced by a number frees the text
    sheet.set_cell({3, 4}, std::u16string(u"third"));
    sheet.set_cell({3, 2}, std::u16string(u"second, again"));
    EXPECT_EQ(sheet.cell({3, 5}), CellValue(7.0));
    EXPECT_EQ(sheet.cell({3, 4}), CellValue(std::u16string(u"third")));
    EXPECT_EQ(sheet.cell({3, 2}), CellValue(std::u16string(u"second, again")));
    EXPECT_EQ(sheet.cell_count(), 3u);

    sheet.set_cell({3, 4}, std::u16string());  // an empty text empties the cell
    sheet.set_cell({3, 5}, CellValue());
    sheet.set_cell({50, 1}, CellValue());  // emptying an empty cell stores nothing
    EXPECT_EQ(sheet.cell({3, 4}), CellValue());
    EXPECT_EQ(sheet.cell_count(), 1u);
    EXPECT_EQ(sheet.row_limit(), 3u);
    sheet.set_cell({3, 2}, CellValue());
    EXPECT_EQ(sheet.cell_count(), 0u);
    EXPECT_EQ(sheet.row_limit(), 0u);
    EXPECT_EQ(sheet.used_area(), std::nullopt);
}

TEST(WorksheetCells, RowsAreWalkedLeftToRightWhateverTheOrderOfWriting)
{
    Worksheet sheet(u"Order");
    for (uint16_t column : {200, 3, 256, 1, 77})
        sheet.set_cell({10, column}, static_cast<double>(column));
    std::vector<uint16_t> seen;
    sheet.for_each_cell_in_row(10, [&](uint16_t column, const CellValueView& value) {
        seen.push_back(column);
        EXPECT_EQ(std::get<double>(value), column);
    });
    EXPECT_EQ(seen, (std::vector<uint16_t>{1, 3, 77, 200, 256}));
    EXPECT_EQ(sheet.used_area(), (CellArea{{10, 1}, {10, 256}}));
    sheet.set_cell({2, 50}, true);
    sheet.set_cell({65536, 40}, true);
    EXPECT_EQ(sheet.used_area(), (CellArea{{2, 1}, {65536, 256}}));
}

TEST(WorksheetCells, RefuseWhatTheFileCannotHold)
{
    Worksheet sheet(u"Limits");
    for (CellAddress outside : {CellAddress{0, 1}, CellAddress{1, 0}, CellAddress{65537, 1}, CellAddress{1, 257}}) {
        expect_error([&] { sheet.set_cell(outside, 1.0); }, 1004, kObjectDefined);
        expect_error([&] { sheet.cell(outside); }, 1004, kObjectDefined);
    }
    EXPECT_NO_THROW(sheet.set_cell({65536, 256}, 1.0));
    EXPECT_NO_THROW(sheet.set_cell({1, 1}, std::u16string(kMaxTextLength, u'a')));
    expect_error([&] { sheet.set_cell({1, 2}, std::u16string(kMaxTextLength + 1, u'a')); }, 1004, kObjectDefined);
    expect_error([&] { sheet.set_cell({1, 3}, std::numeric_limits<double>::infinity()); }, 6, "Overflow");
    expect_error([&] { sheet.set_cell({1, 3}, std::nan("")); }, 6, "Overflow");
    expect_error([&] { sheet.set_cell({1, 3}, DateTime{-std::numeric_limits<double>::infinity()}); }, 6, "Overflow");
    EXPECT_EQ(sheet.cell_count(), 2u);
}

TEST(WorksheetCells, AFullWidthTenColumnSheetFills)
{
    Worksheet sheet(u"Big");
    for (uint32_t row = 1; row <= kMaxRows; ++row) {
        for (uint16_t column = 1; column <= 10; ++column)
            sheet.set_cell({row, column}, static_cast<double>(row * column));
    }
    EXPECT_EQ(sheet.cell_count(), size_t{kMaxRows} * 10);
    EXPECT_EQ(sheet.cell({65536, 10}), CellValue(655360.0));
    EXPECT_EQ(sheet.used_area(), (CellArea{{1, 1}, {65536, 10}}));
}

}  // namespace
}  // namespace varne::workbook
