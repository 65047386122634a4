#include "spreadsheet/workbook/biff8_records.h"
#include "spreadsheet/workbook/biff8_substreams.h"

#include "frame/automation_date.h"
#include "spreadsheet/workbook/number_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace varne::workbook {

namespace {

constexpr uint32_t kRowsPerBlock = 32;

// RK: a 30-bit integer or the top 30 bits of a double, either optionally divided by 100.
std::optional<uint32_t> to_rk(double value)
{
    auto decode = [](uint32_t rk) {
        double number = (rk & 0x2) ? static_cast<double>(static_cast<int32_t>(rk) >> 2)
                                   : std::bit_cast<double>(uint64_t{rk & 0xFFFFFFFCu} << 32);
        return (rk & 0x1) ? number / 100 : number;
    };
    auto encode = [](double number, uint32_t divided) -> std::optional<uint32_t> {
        if (number >= -536870912.0 && number < 536870912.0 && number == std::trunc(number))
            return (static_cast<uint32_t>(static_cast<int32_t>(number)) << 2) | 0x2 | divided;
        uint64_t bits = std::bit_cast<uint64_t>(number);
        if ((bits & 0x3FFFFFFFFull) == 0)
            return static_cast<uint32_t>(bits >> 32) | divided;
        return std::nullopt;
    };
    for (uint32_t divided : {0u, 1u}) {
        auto rk = encode(divided ? value * 100 : value, divided);
        if (rk && std::bit_cast<uint64_t>(decode(*rk)) == std::bit_cast<uint64_t>(value))
            return rk;
    }
    return std::nullopt;
}

// A date as the 1900 date system stores it: a serial number with a date XF, or, before
// 1900 where no serial exists, its text.
struct StoredDate {
    double serial = 0;
    uint16_t xf = kDateXf;
    std::optional<std::u16string> text;
};

// The text that a date before 1900 becomes, as m/d/yyyy with the time when there is one.
std::u16string date_text(double serial)
{
    CivilTime time = to_civil_time(serial);
    char text[48];
    int length = std::snprintf(text, sizeof text, "%d/%d/%d", time.month, time.day, time.year);
    if (time.hour || time.minute || time.second) {
        int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), " %d:%02d:%02d %s", hour12,
                                time.minute, time.second, time.hour < 12 ? "AM" : "PM");
    }
    return std::u16string(text, text + length);
}

StoredDate store_date(double serial)
{
    // Day 0 is a time of day alone; the whole part counts backwards before it.
    if (serial > -1 && serial < 1)
        return {std::fabs(serial), kTimeXf, std::nullopt};
    // The 1900 system counts a 29 February 1900 that never was, so serials before
    // 1 March 1900 (61 in both systems) are one lower than automation dates.
    constexpr double kFirstMarch1900 = 61;
    constexpr double kFirstJanuary1900 = 2;
    if (serial < kFirstJanuary1900)
        return {0, kGeneralXf, date_text(serial)};
    double stored = serial < kFirstMarch1900 ? serial - 1 : serial;
    return {stored, serial == std::trunc(serial) ? kDateXf : kDateTimeXf, std::nullopt};
}

// One cell ready for its record.
struct EncodedCell {
    enum class As { rk, number, text, boolean };
    uint16_t column;  // 0-based
    uint16_t xf;
    As as;
    uint32_t rk_or_string;
    double number;
    bool boolean;
};

EncodedCell encode_number(uint16_t column, double number, uint16_t xf)
{
    if (auto rk = to_rk(number))
        return {column, xf, EncodedCell::As::rk, *rk, 0, false};
    return {column, xf, EncodedCell::As::number, 0, number, false};
}

void encode_row(const Worksheet& sheet, uint32_t row, SharedStrings& strings, const FormatTable& formats,
                std::vector<EncodedCell>& cells)
{
    cells.clear();
    const bool formatted = !sheet.format_regions().empty();
    sheet.for_each_cell_in_row(row, [&](uint16_t column_1, const CellValueView& value) {
        auto column = static_cast<uint16_t>(column_1 - 1);
        auto xf = [&](uint16_t general_xf) {
            return formatted ? formats.xf(sheet.number_format({row, column_1}), general_xf) : general_xf;
        };
        if (auto* number = std::get_if<double>(&value)) {
            cells.push_back(encode_number(column, *number, xf(kGeneralXf)));
        } else if (auto* text = std::get_if<std::u16string_view>(&value)) {
            cells.push_back({column, xf(kGeneralXf), EncodedCell::As::text, strings.use(*text), 0, false});
        } else if (auto* boolean = std::get_if<bool>(&value)) {
            cells.push_back({column, xf(kGeneralXf), EncodedCell::As::boolean, 0, 0, *boolean});
        } else if (auto* date = std::get_if<DateTime>(&value)) {
            StoredDate stored = store_date(date->serial);
            if (stored.text) {
                uint32_t index = strings.use(std::move(*stored.text));
                cells.push_back({column, kGeneralXf, EncodedCell::As::text, index, 0, false});
            } else {
                cells.push_back(encode_number(column, stored.serial, xf(stored.xf)));
            }
        }
    });
}

// A column as COLINFO describes it.
struct Column {
    uint16_t width;  // in 1/256 of a character
    uint16_t xf;
    uint16_t flags;
    friend bool operator==(const Column&, const Column&) = default;
};

// COLINFO for each run of neighbouring columns with the same width and format, where either
// differs from the sheet's default. A column's format is that of the last format given to
// the whole of it, so that readers show cells typed into it later in that format too.
void write_column_info(ByteWriter& out, const Worksheet& sheet, const FormatTable& formats)
{
    constexpr uint16_t kHidden = 0x0001;
    constexpr uint16_t kUserSet = 0x0002;
    // The spreadsheet program's own conversion: characters of a 7-pixel digit plus 5 pixels of margin.
    auto file_width = [](double characters) {
        return static_cast<uint16_t>(characters <= 0 ? 0 : std::trunc((characters * 7 + 5) / 7 * 256));
    };
    std::vector<Column> columns(kMaxColumns + 1, {file_width(kStandardColumnWidth), kGeneralXf, 0});
    for (uint16_t column = 1; column <= kMaxColumns; ++column) {
        double width = sheet.column_widths().size(column);
        if (sheet.column_widths().has_own(column) || width != kStandardColumnWidth) {
            columns[column] = {file_width(width), kGeneralXf,
                               static_cast<uint16_t>(width == 0 ? kHidden | kUserSet : kUserSet)};
        }
    }
    for (const FormatRegion& region : sheet.format_regions()) {
        if (region.area.first.row != 1 || region.area.last.row != kMaxRows)
            continue;
        for (uint16_t column = region.area.first.column; column <= region.area.last.column; ++column)
            columns[column].xf = formats.xf(region.format, kGeneralXf);
    }
    const Column standard{file_width(kStandardColumnWidth), kGeneralXf, 0};
    for (uint16_t first = 1; first <= kMaxColumns;) {
        uint16_t last = first;
        while (last < kMaxColumns && columns[last + 1] == columns[first])
            ++last;
        if (columns[first] != standard) {
            header(out, kColInfo, 12);
            out.u16(first - 1).u16(last - 1).u16(columns[first].width).u16(columns[first].xf);
            out.u16(columns[first].flags).u16(0);
        }
        first = static_cast<uint16_t>(last + 1);
        if (last == kMaxColumns)
            break;
    }
}

// A cell's record up to its value: the header, then the cell's place and format.
ByteWriter& cell_record(ByteWriter& out, uint16_t id, uint16_t length, uint16_t row, const EncodedCell& cell)
{
    header(out, id, length);
    return out.u16(row).u16(cell.column).u16(cell.xf);
}

void write_cells(ByteWriter& out, uint16_t row, const std::vector<EncodedCell>& cells)
{
    for (size_t i = 0; i < cells.size();) {
        const EncodedCell& cell = cells[i];
        size_t run_end = i + 1;
        if (cell.as == EncodedCell::As::rk) {
            while (run_end < cells.size() && cells[run_end].as == EncodedCell::As::rk &&
                   cells[run_end].column == cells[run_end - 1].column + 1)
                ++run_end;
        }
        if (run_end - i > 1) {
            // MULRK: a run of neighbouring RK cells in one record.
            header(out, kMulRk, static_cast<uint16_t>(6 + 6 * (run_end - i)));
            out.u16(row).u16(cell.column);
            for (size_t k = i; k < run_end; ++k)
                out.u16(cells[k].xf).u32(cells[k].rk_or_string);
            out.u16(cells[run_end - 1].column);
            i = run_end;
            continue;
        }
        switch (cell.as) {
        case EncodedCell::As::rk:
            cell_record(out, kRk, 10, row, cell).u32(cell.rk_or_string);
            break;
        case EncodedCell::As::number:
            cell_record(out, kNumber, 14, row, cell).f64(cell.number);
            break;
        case EncodedCell::As::text:
            cell_record(out, kLabelSst, 10, row, cell).u32(cell.rk_or_string);
            break;
        case EncodedCell::As::boolean:
            cell_record(out, kBoolErr, 8, row, cell).u8(cell.boolean ? 1 : 0).u8(0);
            break;
        }
        ++i;
    }
}

// A row's height in twips and its ROW flags; a hidden row keeps the standard height for when it is shown.
struct RowHeight {
    uint16_t twips;
    uint16_t flags;
};

RowHeight row_height_of(double points, bool set)
{
    constexpr uint16_t kStandardHeightTwips = 0x00FF;
    constexpr uint16_t kHidden = 0x0020;
    constexpr uint16_t kHeightSet = 0x0040;
    if (points == 0)
        return {kStandardHeightTwips, kHidden | kHeightSet};
    return {static_cast<uint16_t>(std::lround(points * 20)), set ? kHeightSet : uint16_t{0}};
}

void write_sheet_settings(ByteWriter& out, const Worksheet& sheet)
{
    u16_records(out, {{kCalcMode, 1}, {kCalcCount, 100}, {kRefMode, 1}, {kIteration, 0}});
    header(out, kDelta, 8);
    out.f64(0.001);
    u16_records(out, {{kSaveRecalc, 1}, {kPrintHeaders, 0}, {kPrintGridlines, 0}, {kGridSet, 1}});
    header(out, kGuts, 8);
    out.zeros(8);
    // The height of rows without a ROW record: flag 1 says it is not the font's, flag 2 that
    // such rows are hidden (the height is then the one they get when shown).
    constexpr uint16_t kUnsynced = 0x0001;
    constexpr uint16_t kHiddenRows = 0x0002;
    const double standard = sheet.row_heights().standard();
    RowHeight rows = row_height_of(standard, false);
    uint16_t flags = standard == kStandardRowHeight ? 0 : kUnsynced | (standard == 0 ? kHiddenRows : 0);
    header(out, kDefaultRowHeight, 4);
    out.u16(flags).u16(rows.twips);
    u16_records(out, {{kWsBool, 0x04C1}, {kDefColWidth, 8}});
}

}  // namespace

std::vector<uint8_t> encode_sheet(const Worksheet& sheet, bool active, SharedStrings& strings,
                                  const FormatTable& formats)
{
    ByteWriter out;
    out.reserve(256 + sheet.cell_count() * 12);
    write_bof(out, kWorksheetSubstream);
    write_sheet_settings(out, sheet);
    write_column_info(out, sheet, formats);

    header(out, kDimensions, 14);
    if (auto area = sheet.used_area())
        out.u32(area->first.row - 1).u32(area->last.row).u16(area->first.column - 1).u16(area->last.column).u16(0);
    else
        out.zeros(14);

    // Rows go in blocks of 32: the block's ROW records, then its cells. A row has a ROW record
    // when it holds cells or a height of its own; an empty row's cell span is 0 to 0. Rows
    // without one have the standard height that DEFAULTROWHEIGHT gives.
    constexpr uint16_t kRowFlags = 0x0100;
    const LineSizes& heights = sheet.row_heights();
    const uint32_t last_row = std::max(sheet.row_limit(), heights.last_with_own());
    std::vector<EncodedCell> cells;
    for (uint32_t block = 1; block <= last_row; block += kRowsPerBlock) {
        uint32_t block_end = std::min(block + kRowsPerBlock, last_row + 1);
        for (uint32_t row = block; row < block_end; ++row) {
            uint16_t first = 0;
            uint16_t last = 0;
            if (row <= sheet.row_limit()) {
                sheet.for_each_cell_in_row(row, [&](uint16_t column, const CellValueView&) {
                    first = first ? first : column;
                    last = column;
                });
            }
            const bool own_height = heights.has_own(row);
            if (first == 0 && !own_height)
                continue;
            RowHeight height = row_height_of(heights.size(row), own_height || heights.standard() != kStandardRowHeight);
            header(out, kRow, 16);
            out.u16(static_cast<uint16_t>(row - 1)).u16(first == 0 ? 0 : first - 1).u16(last).u16(height.twips);
            out.u16(0).u16(0).u16(kRowFlags | height.flags).u16(kGeneralXf);
        }
        for (uint32_t row = block; row < block_end; ++row) {
            if (row > sheet.row_limit())
                continue;
            encode_row(sheet, row, strings, formats, cells);
            write_cells(out, static_cast<uint16_t>(row - 1), cells);
        }
    }

    constexpr uint16_t kWindowFlags = 0x00B6;  // gridlines, headers, zeros, default colour, outline symbols
    constexpr uint16_t kSelectedAndShown = 0x0600;
    header(out, kWindow2, 18);
    out.u16(kWindowFlags | (active ? kSelectedAndShown : 0)).u16(0).u16(0).u16(0x40).u16(0).u16(0).u16(0).u32(0);
    write_eof(out);
    return out.take();
}

}  // namespace varne::workbook
