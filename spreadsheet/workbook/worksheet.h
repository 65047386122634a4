#pragma once

#include "spreadsheet/workbook/cell_reference.h"
#include "spreadsheet/workbook/cell_value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varne::workbook {

// The longest text a cell holds.
inline constexpr size_t kMaxTextLength = 32767;
// Column widths count characters of the standard font's digits, as the spreadsheet program
// counts them; a column nobody sized has the standard width.
inline constexpr double kStandardColumnWidth = 8.43;
inline constexpr double kMaxColumnWidth = 255;
// In points: the height of a row in the standard font (255 twips), and the highest a row may be.
inline constexpr double kStandardRowHeight = 12.75;
inline constexpr double kMaxRowHeight = 409;
// The longest number format, in UTF-16 units.
inline constexpr size_t kMaxNumberFormatLength = 255;
inline constexpr std::u16string_view kGeneralFormat = u"General";

// A number format given to an area of cells; a later one wins over an earlier one where both hold a cell.
struct FormatRegion {
    CellArea area;
    std::u16string format;
};

// The sizes of a sheet's columns or rows: a standard size, and sizes that lines were given of
// their own. Sizing every line at once changes the standard and forgets the lines' own sizes,
// so the file says it once instead of once per line.
class LineSizes {
public:
    LineSizes(uint32_t lines, double standard, double max, const char* property)
        : m_lines(lines), m_standard(standard), m_max(max), m_property(property)
    {
    }

    double standard() const { return m_standard; }
    double size(uint32_t line) const;
    bool has_own(uint32_t line) const;
    // The size of lines first..last, or nothing when they differ.
    std::optional<double> common_size(uint32_t first, uint32_t last) const;
    void set(uint32_t first, uint32_t last, double size);
    // The highest line with a size of its own; 0 for none.
    uint32_t last_with_own() const { return static_cast<uint32_t>(m_own.size()); }

private:
    void check_line(uint32_t line) const;

    uint32_t m_lines;
    double m_standard;
    double m_max;
    const char* m_property;
    std::vector<double> m_own;  // index line - 1; NaN for the standard size
};

// One sheet: its name and a sparse store of cells, a sorted run of cells per used row.
class Worksheet {
public:
    explicit Worksheet(std::u16string name);

    const std::u16string& name() const { return m_name; }

    // Raise AutomationError 1004 for an address outside the sheet; setting raises 1004 for
    // a text over 32,767 units and 6 (Overflow) for an infinite or NaN number or date.
    // An empty text empties the cell, as it does in the spreadsheet program.
    CellValue cell(const CellAddress& address) const;
    CellValueView cell_view(const CellAddress& address) const;
    void set_cell(const CellAddress& address, CellValue value);

    size_t cell_count() const { return m_cell_count; }
    // The smallest area holding every non-empty cell; nothing for an empty sheet.
    std::optional<CellArea> used_area() const;
    // The highest row that may hold cells; 0 for a sheet that never held any.
    uint32_t row_limit() const { return static_cast<uint32_t>(m_rows.size()); }

    // Widths of columns 1..256, in 0..255 characters, and heights of rows 1..65536, in 0..409
    // points (0 hides the line); others raise AutomationError 1004.
    const LineSizes& column_widths() const { return m_column_widths; }
    LineSizes& column_widths() { return m_column_widths; }
    const LineSizes& row_heights() const { return m_row_heights; }
    LineSizes& row_heights() { return m_row_heights; }
    double column_width(uint16_t column) const { return m_column_widths.size(column); }
    void set_column_width(uint16_t column, double width) { m_column_widths.set(column, column, width); }
    // Sets each column of the area to the width its widest cell within the area needs, as
    // the cells' texts look in the standard font; a column with no cells there keeps its width.
    void autofit_columns(const CellArea& area);

    // The format shown for a cell: the last format given to an area holding it, else "General".
    // Setting raises 1004 for an empty format or one over 255 units.
    std::u16string_view number_format(const CellAddress& address) const;
    void set_number_format(const CellArea& area, std::u16string format);
    const std::vector<FormatRegion>& format_regions() const { return m_formats; }

    // Calls visit(column, CellValueView) for each non-empty cell of the row, left to right.
    template <typename Visit>
    void for_each_cell_in_row(uint32_t row, Visit&& visit) const;

private:
    friend class Workbook;

    enum class Kind : uint8_t { number, text, boolean, date_time };
    struct StoredCell {
        uint16_t column;
        Kind kind;
        union {
            double number;
            uint32_t text;
            bool boolean;
        };
    };
    using Row = std::vector<StoredCell>;

    CellValueView view_of(const StoredCell& cell) const;
    uint32_t store_text(std::u16string&& text);
    void release_text(const StoredCell& cell);
    void erase_cell(Row& row, Row::iterator at);

    std::u16string m_name;
    std::vector<Row> m_rows;  // index row - 1
    // Texts live beside the cells so a cell stays 16 bytes; freed slots are reused.
    std::vector<std::u16string> m_texts;
    std::vector<uint32_t> m_free_texts;
    size_t m_cell_count = 0;
    LineSizes m_column_widths{kMaxColumns, kStandardColumnWidth, kMaxColumnWidth, "ColumnWidth"};
    LineSizes m_row_heights{kMaxRows, kStandardRowHeight, kMaxRowHeight, "RowHeight"};
    std::vector<FormatRegion> m_formats;
};

template <typename Visit>
void Worksheet::for_each_cell_in_row(uint32_t row, Visit&& visit) const
{
    if (row < 1 || row > m_rows.size())
        return;
    for (const StoredCell& cell : m_rows[row - 1])
        visit(cell.column, view_of(cell));
}

}  // namespace varne::workbook
