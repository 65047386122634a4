#include "spreadsheet/workbook/number_format.h"
#include "spreadsheet/workbook/xls_writer.h"

#include "frame/automation_error.h"
#include "tests/support/automation_errors.h"
#include "xls_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace varne::workbook {
namespace {

using nlohmann::json;
using testing::read_back;
using testing::save_on_disk;
using testing::ScratchFolder;
using varne::testing::raised;

constexpr CellArea column_area(uint16_t first, uint16_t last)
{
    return {{1, first}, {kMaxRows, last}};
}

TEST(XlsLayout, ColumnWidthsAndNumberFormatsReadBack)
{
    Workbook workbook;
    Worksheet& sheet = workbook.sheet(0);
    sheet.set_cell({1, 1}, std::u16string(u"Step"));
    sheet.set_cell({2, 2}, DateTime{0.5 + 1.0 / 86400});  // 12:00:01, in a custom time format
    sheet.set_cell({3, 2}, DateTime{45351.75});  // a date-time shown as a time alone
    sheet.set_cell({2, 3}, 1234.0);
    sheet.set_cell({3, 3}, 0.25);
    sheet.set_cell({2, 4}, 2.5);
    sheet.set_cell({3, 4}, DateTime{45351});  // General given explicitly: a date still shows as a date
    sheet.set_cell({2, 5}, 3.0);
    sheet.set_column_width(1, 20);
    sheet.set_column_width(2, 0);
    sheet.set_column_width(3, 12.5);
    sheet.set_column_width(4, 12.5);
    sheet.set_number_format({{2, 2}, {3, 2}}, u"hh:mm:ss");
    sheet.set_number_format({{2, 3}, {2, 3}}, u"#,##0 \"ms\"");
    sheet.set_number_format({{3, 3}, {3, 3}}, u"0.00%");
    sheet.set_number_format({{2, 4}, {2, 4}}, u"h:mm:ss");  // built-in 21: no FORMAT record
    sheet.set_number_format({{3, 4}, {3, 4}}, u"general");
    sheet.set_number_format(column_area(5, 5), u"0.0");  // the column's format, also for later cells

    ScratchFolder folder;
    const std::string path = folder.file("layout.xls");
    save_on_disk(workbook, path);
    json report = read_back(path);
    json first = report["sheets"][0];
    // The spreadsheet program's conversion: (characters * 7 + 5) / 7 * 256, cut to a whole number.
    EXPECT_EQ(first["column_widths"], json({{"1", {{"width", 5302}, {"hidden", false}}},
                                            {"2", {{"width", 0}, {"hidden", true}}},
                                            {"3", {{"width", 3382}, {"hidden", false}}},
                                            {"4", {{"width", 3382}, {"hidden", false}}},
                                            {"5", {{"width", 2340}, {"hidden", false}, {"format", "0.0"}}}}));
    EXPECT_EQ(first["formats"], json({{"2,2", "hh:mm:ss"},
                                      {"3,2", "hh:mm:ss"},
                                      {"2,3", "#,##0 \"ms\""},
                                      {"3,3", "0.00%"},
                                      {"2,4", "h:mm:ss"},
                                      {"3,4", "m/d/yy"},  // xlrd's name for built-in 14
                                      {"2,5", "0.0"}}));
    // xlrd tells a date by its format: the time formats keep the cells dates.
    EXPECT_EQ(first["cells"][1], json::array({2, 2, "date", json::array({0, 0, 0, 12, 0, 1})}));
    EXPECT_EQ(first["cells"][5], json::array({3, 2, "date", json::array({2024, 2, 29, 18, 0, 0})}));
    EXPECT_EQ(first["cells"][7], json::array({3, 4, "date", json::array({2024, 2, 29, 0, 0, 0})}));
}

TEST(XlsLayout, WidthsAndFormatsOutsideTheirLimitsAreRefused)
{
    Worksheet sheet(u"Sheet1");
    for (double width : {-0.5, 255.01})
        EXPECT_EQ(raised([&] { sheet.set_column_width(1, width); }).number(), 1004) << width;
    EXPECT_EQ(raised([&] { sheet.set_column_width(257, 10); }).number(), 1004);
    EXPECT_EQ(raised([&] { sheet.set_number_format({{1, 1}, {1, 1}}, u""); }).number(), 1004);
    EXPECT_EQ(raised([&] { sheet.set_number_format({{1, 1}, {1, 1}}, std::u16string(256, u'0')); }).number(), 1004);
    sheet.set_column_width(1, 255);
    EXPECT_EQ(sheet.column_width(1), 255);
    EXPECT_EQ(sheet.column_width(2), kStandardColumnWidth);

    // Formatting the same cells again replaces, rather than stacks, what they had.
    for (int i = 0; i < 100; ++i)
        sheet.set_number_format({{1, 1}, {10, 2}}, i % 2 ? u"0.00" : u"hh:mm");
    sheet.set_number_format({{2, 2}, {2, 2}}, u"0%");
    EXPECT_EQ(sheet.format_regions().size(), 2u);
    EXPECT_EQ(sheet.number_format({1, 1}), u"0.00");
    EXPECT_EQ(sheet.number_format({2, 2}), u"0%");
    EXPECT_EQ(sheet.number_format({11, 1}), u"General");
}

TEST(XlsLayout, EveryRowSizedAtOnceIsTheSheetsStandardHeightNotARowRecordEach)
{
    Workbook workbook;
    Worksheet& sized = workbook.add_sheet(0, u"Sized");
    sized.set_cell({1, 1}, std::u16string(u"Step"));
    LineSizes& heights = sized.row_heights();
    heights.set(3, 3, 40);  // the whole sheet's height, set after, replaces it
    heights.set(1, kMaxRows, 20);
    heights.set(5, 6, 0);
    EXPECT_EQ(heights.size(3), 20);
    EXPECT_EQ(heights.common_size(1, 4), 20);
    EXPECT_EQ(heights.common_size(1, kMaxRows), std::nullopt);
    EXPECT_EQ(heights.common_size(7, kMaxRows), 20);
    workbook.add_sheet(1, u"Hidden").row_heights().set(1, kMaxRows, 0);
    workbook.add_sheet(2, u"Wide").column_widths().set(1, kMaxColumns, 12.5);

    ScratchFolder folder;
    const std::string path = folder.file("rows.xls");
    save_on_disk(workbook, path);
    json sheets = read_back(path)["sheets"];
    // Rows 1 (it holds a cell), 5 and 6; the others take DEFAULTROWHEIGHT's 20 points.
    EXPECT_EQ(sheets[0]["row_records"], 3);
    EXPECT_EQ(sheets[0]["default_row"], json({{"height", 400}, {"hidden", false}, {"unsynced", true}}));
    EXPECT_EQ(sheets[0]["row_heights"], json({{"1", {{"height", 400}, {"hidden", false}}},
                                              {"5", {{"height", 255}, {"hidden", true}}},
                                              {"6", {{"height", 255}, {"hidden", true}}}}));
    EXPECT_EQ(sheets[1]["row_records"], 0);
    EXPECT_EQ(sheets[1]["default_row"], json({{"height", 255}, {"hidden", true}, {"unsynced", true}}));
    EXPECT_EQ(sheets[2]["default_row"], json({{"height", 255}, {"hidden", false}, {"unsynced", false}}));
    EXPECT_EQ(sheets[2]["column_widths"].size(), kMaxColumns);
    EXPECT_EQ(sheets[2]["column_widths"]["256"], json({{"width", 3382}, {"hidden", false}}));
    EXPECT_EQ(sheets[3]["default_row"], sheets[2]["default_row"]) << "a sheet nobody sized";
}

TEST(XlsLayout, MoreNumberFormatsThanTheFileHoldsFailBeforeAnythingIsWritten)
{
    Workbook workbook;
    for (uint32_t row = 1; row <= 4001; ++row)
        workbook.sheet(0).set_number_format({{row, 1}, {row, 1}}, u"0\" #" + from_utf8(std::to_string(row)) + u"\"");
    ScratchFolder folder;
    AutomationError error = raised([&] { save_on_disk(workbook, folder.file("many.xls")); });
    EXPECT_EQ(error.number(), 1004);
    EXPECT_EQ(error.description(),
              "The workbook uses more than 4000 different number formats, more than the file format holds");
    EXPECT_EQ(folder.entry_count(), 0u);
}

TEST(XlsLayout, AutoFitSizesColumnsToTheTextTheyShow)
{
    Worksheet sheet(u"Steps");
    sheet.set_cell({1, 1}, std::u16string(u"Step"));
    sheet.set_cell({2, 1}, std::u16string(u"Open product by image"));
    sheet.set_cell({1, 2}, std::u16string(u"Ok"));
    sheet.set_cell({2, 3}, DateTime{0.5});
    sheet.set_number_format({{2, 3}, {2, 3}}, u"hh:mm:ss");
    sheet.set_cell({2, 4}, std::u16string(u"WWWWWWWWWWWWWWWWWWWW"));
    sheet.set_cell({3, 4}, std::u16string(u"iiiiiiiiiiiiiiiiiiii"));
    sheet.set_column_width(5, 30);
    sheet.autofit_columns({{1, 1}, {kMaxRows, 5}});

    // At least as wide as the text in digit widths, and not much more.
    double name = text_width(u"Open product by image");
    EXPECT_GE(sheet.column_width(1), name);
    EXPECT_LE(sheet.column_width(1), name + 3);
    EXPECT_LT(sheet.column_width(2), kStandardColumnWidth);
    EXPECT_GE(sheet.column_width(3), 8);  // "12:00:00"
    EXPECT_GE(sheet.column_width(4), text_width(std::u16string(20, u'W')));
    EXPECT_GT(text_width(std::u16string(20, u'W')), 3 * text_width(std::u16string(20, u'i')));
    EXPECT_EQ(sheet.column_width(5), 30);  // no cells: it keeps its width

    // Only the cells of the area count.
    sheet.autofit_columns({{3, 4}, {3, 4}});
    EXPECT_LT(sheet.column_width(4), text_width(std::u16string(20, u'W')));
}

TEST(XlsLayout, DisplayedTextFollowsTheFormat)
{
    EXPECT_EQ(displayed_text(1234567.0, u"#,##0 \"ms\""), u"1,234,567 ms");
    EXPECT_EQ(displayed_text(0.125, u"0.0%"), u"12.5%");
    EXPECT_EQ(displayed_text(DateTime{0.5}, u"hh:mm:ss"), u"00:00:00");
    EXPECT_EQ(displayed_text(DateTime{45351}, u"dddd d mmmm yyyy"), u"Wednesday 00 September 0000");
    EXPECT_EQ(displayed_text(DateTime{45351}, u"General"), u"00/00/0000");
    EXPECT_EQ(displayed_text(2.5, u"General"), u"2.5");
    EXPECT_EQ(displayed_text(true, u"0.00"), u"TRUE");
    EXPECT_EQ(builtin_format_id(u"h:mm:ss"), 21);
    EXPECT_EQ(builtin_format_id(u"GENERAL"), 0);
    EXPECT_EQ(builtin_format_id(u"hh:mm:ss"), std::nullopt);
}

}  // namespace
}  // namespace varne::workbook
