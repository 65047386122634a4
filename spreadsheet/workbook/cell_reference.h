#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varne::workbook {

// The size of a sheet in the 97-2003 file format.
inline constexpr uint32_t kMaxRows = 65536;
inline constexpr uint16_t kMaxColumns = 256;

// One cell, 1-based like Cells(row, column).
struct CellAddress {
    uint32_t row = 1;
    uint16_t column = 1;
    friend bool operator==(const CellAddress&, const CellAddress&) = default;
};

// A rectangle of cells, first at the top left and last at the bottom right.
struct CellArea {
    CellAddress first;
    CellAddress last;
    friend bool operator==(const CellArea&, const CellArea&) = default;
};

bool is_valid_address(const CellAddress& address);

// Parses an A1-style reference as Range accepts it: "B3", "$B$3", "b3", "A1:C4", "C4:A1",
// whole columns "B:D" and whole rows "2:5". Nothing for a text that is none of these or
// that lies outside the sheet.
std::optional<CellArea> parse_a1_reference(std::u16string_view text);

// "A1", "IV65536"; the area form is "A1:C4", or "A1" when the area is one cell.
std::u16string format_a1(const CellAddress& address);
std::u16string format_a1(const CellArea& area);

// Column letters to number ("A" is 1, "IV" is 256) and back; nothing outside 1..256.
std::optional<uint16_t> parse_column_letters(std::u16string_view letters);
std::u16string column_letters(uint16_t column);

// Whole columns or whole rows, first to last.
CellArea whole_columns(uint16_t first, uint16_t last);
CellArea whole_rows(uint32_t first, uint32_t last);
// Whole rows given by number, as Rows takes them in a text: "3" or "2:5" (either way round).
std::optional<CellArea> parse_row_numbers(std::u16string_view text);

}  // namespace varne::workbook
