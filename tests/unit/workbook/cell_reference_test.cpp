#include "spreadsheet/workbook/cell_reference.h"

#include <gtest/gtest.h>

namespace varne::workbook {
namespace {

CellArea cell(uint32_t row, uint16_t column)
{
    return {{row, column}, {row, column}};
}

TEST(CellReference, ParsesCellsWithOrWithoutDollarsInAnyCase)
{
    EXPECT_EQ(parse_a1_reference(u"B3"), cell(3, 2));
    EXPECT_EQ(parse_a1_reference(u"$B$3"), cell(3, 2));
    EXPECT_EQ(parse_a1_reference(u"$B3"), cell(3, 2));
    EXPECT_EQ(parse_a1_reference(u"B$3"), cell(3, 2));
    EXPECT_EQ(parse_a1_reference(u"b3"), cell(3, 2));
    EXPECT_EQ(parse_a1_reference(u"aA10"), cell(10, 27));
    EXPECT_EQ(parse_a1_reference(u"A1"), cell(1, 1));
    EXPECT_EQ(parse_a1_reference(u"IV65536"), cell(65536, 256));
}

TEST(CellReference, ParsesAreasColumnsAndRowsInEitherOrder)
{
    EXPECT_EQ(parse_a1_reference(u"A1:C4"), (CellArea{{1, 1}, {4, 3}}));
    EXPECT_EQ(parse_a1_reference(u"$C$4:a1"), (CellArea{{1, 1}, {4, 3}}));
    EXPECT_EQ(parse_a1_reference(u"C1:A4"), (CellArea{{1, 1}, {4, 3}}));
    EXPECT_EQ(parse_a1_reference(u"B:D"), (CellArea{{1, 2}, {65536, 4}}));
    EXPECT_EQ(parse_a1_reference(u"$D:$B"), (CellArea{{1, 2}, {65536, 4}}));
    EXPECT_EQ(parse_a1_reference(u"2:5"), (CellArea{{2, 1}, {5, 256}}));
    EXPECT_EQ(parse_a1_reference(u"$5:$2"), (CellArea{{2, 1}, {5, 256}}));
    EXPECT_EQ(parse_a1_reference(u"B3:B3"), cell(3, 2));
}

TEST(CellReference, RefusesWhatIsNoReferenceOrLiesOutsideTheSheet)
{
    for (std::u16string_view text :
         {u"",     u"B",    u"3",        u"A0",        u"A01",  u"IW1", u"AAA1", u"A65537", u"A100000",
          u"$$A1", u"A$$1", u"A1$",      u"A-1",       u"A 1",  u" A1", u"A1:",  u":A1",    u"A1:B",
          u"A:1",  u"1:A1", u"A1:B2:C3", u"Sheet1!A1", u"R1C1", u"Ä1",  u"A1.5"})
        EXPECT_EQ(parse_a1_reference(text), std::nullopt) << std::string(text.begin(), text.end());
}

TEST(CellReference, FormatsAndConvertsColumnLetters)
{
    EXPECT_EQ(column_letters(1), u"A");
    EXPECT_EQ(column_letters(26), u"Z");
    EXPECT_EQ(column_letters(27), u"AA");
    EXPECT_EQ(column_letters(52), u"AZ");
    EXPECT_EQ(column_letters(256), u"IV");
    for (uint16_t column = 1; column <= kMaxColumns; ++column)
        EXPECT_EQ(parse_column_letters(column_letters(column)), column);
    EXPECT_EQ(parse_column_letters(u"IW"), std::nullopt);
    EXPECT_EQ(format_a1(CellAddress{65536, 256}), u"IV65536");
    EXPECT_EQ(format_a1(CellArea{{1, 1}, {4, 3}}), u"A1:C4");
    EXPECT_EQ(format_a1(cell(7, 2)), u"B7");
}

}  // namespace
}  // namespace varne::workbook
