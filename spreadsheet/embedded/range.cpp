#include "spreadsheet/embedded/objects.h"

#include <optional>
#include <string>

namespace varne::embedded {

namespace {

using Taken = Range::Taken;

std::string absolute_a1(const workbook::CellAddress& address)
{
    return "$" + to_utf8(workbook::column_letters(address.column)) + "$" + std::to_string(address.row);
}

workbook::CellValue to_cell(const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
    case VarType::Null:
        break;
    case VarType::I2:
    case VarType::I4:
    case VarType::R8:
        return to_r8(value);
    case VarType::Bool:
        return value.boolean();
    case VarType::String:
        return value.string();
    case VarType::Date:
        return workbook::DateTime{value.date()};
    case VarType::Object:
        if (!value.object())
            break;
        // An object stands for its default value, as a range given for a value does.
        if (Variant inner = value.object()->call_default({}); inner.type() != VarType::Object)
            return to_cell(inner);
        throw AutomationError(error_number::kTypeMismatch, "Type mismatch: an object cannot be a cell's value");
    }
    return std::monostate{};
}

Variant to_variant(const workbook::CellValueView& cell, bool dates_as_serials)
{
    return std::visit(
        [&](const auto& value) -> Variant {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return {};
            else if constexpr (std::is_same_v<T, std::u16string_view>)
                return BStr(value);
            else if constexpr (std::is_same_v<T, workbook::DateTime>)
                return dates_as_serials ? Variant(value.serial) : Variant(Variant::Date{value.serial});
            else
                return value;
        },
        cell);
}

Variant size_or_null(std::optional<double> size)
{
    return size ? Variant(*size) : Variant(Variant::Null{});
}

}  // namespace

std::span<const Range::Member> Range::members()
{
    static const Member kMembers[] = {
        {.name = u"Address", .get = &Range::address},
        {.name = u"AutoFit", .call = &Range::autofit},
        {.name = u"Column", .get = &Range::column},
        {.name = u"ColumnWidth", .get = &Range::column_width, .put = &Range::set_column_width},
        {.name = u"Columns", .get = &Range::columns, .call = &Range::columns_of},
        {.name = u"Count", .get = &Range::count},
        {.name = u"EntireColumn", .get = &Range::entire_column},
        {.name = u"EntireRow", .get = &Range::entire_row},
        {.name = u"Item", .call = &Range::item},
        {.name = u"NumberFormat", .get = &Range::number_format, .put = &Range::set_number_format},
        {.name = u"Row", .get = &Range::row},
        {.name = u"RowHeight", .get = &Range::row_height, .put = &Range::set_row_height},
        {.name = u"Rows", .get = &Range::rows, .call = &Range::rows_of},
        {.name = u"Value", .get = &Range::value, .put = &Range::set_value},
        {.name = u"Value2", .get = &Range::value2, .put = &Range::set_value},
        {.name = u"Worksheet", .get = &Range::worksheet},
    };
    return kMembers;
}

workbook::CellValueView Range::single_cell(std::u16string_view member) const
{
    if (m_area.first != m_area.last)
        throw object_error(to_utf8(member) + ": " + to_utf8(workbook::format_a1(m_area)) +
                           " is more than one cell, and its value would be an array; read its cells one by one");
    return m_sheet.sheet().cell_view(m_area.first);
}

Variant Range::value()
{
    return to_variant(single_cell(u"Value"), false);
}

Variant Range::value2()
{
    return to_variant(single_cell(u"Value2"), true);
}

void Range::set_value(const Variant& value)
{
    workbook::CellValue cell = to_cell(value);
    workbook::Worksheet& sheet = m_sheet.sheet();
    for (uint32_t row = m_area.first.row; row <= m_area.last.row; ++row) {
        for (uint32_t column = m_area.first.column; column <= m_area.last.column; ++column)
            sheet.set_cell({row, static_cast<uint16_t>(column)}, cell);
    }
}

Variant Range::row()
{
    return static_cast<int32_t>(m_area.first.row);
}

Variant Range::column()
{
    return static_cast<int32_t>(m_area.first.column);
}

// The number of the range's items: cells, or columns or rows for a range taken so.
Variant Range::count()
{
    const int32_t rows = static_cast<int32_t>(m_area.last.row - m_area.first.row + 1);
    const int32_t columns = m_area.last.column - m_area.first.column + 1;
    switch (m_taken) {
    case Taken::columns:
        return columns;
    case Taken::rows:
        return rows;
    case Taken::cells:
        break;
    }
    return rows * columns;
}

Variant Range::address()
{
    std::string text = absolute_a1(m_area.first);
    if (m_area.first != m_area.last)
        text += ":" + absolute_a1(m_area.last);
    return from_utf8(text);
}

Variant Range::worksheet()
{
    return new_object<Worksheet>(m_sheet);
}

Variant Range::columns()
{
    return new_object<Range>(m_sheet, m_area, Taken::columns);
}

// A position among the range's columns or rows, as a number from 1 or as a text: letters
// ("B", "B:D") for columns, numbers ("2", "2:4") for rows, counted from the range's first column
// as A or its first row as 1. The columns span the range's rows, the rows its columns.
Variant Range::line_at(const Variant& position, Taken taken, std::u16string_view member) const
{
    const bool columns = taken == Taken::columns;
    int64_t first = 0;
    int64_t last = 0;
    if (position.type() != VarType::String) {
        first = last = to_i4(position);
    } else if (columns) {
        std::u16string_view text = position.string();
        size_t colon = text.find(u':');
        auto from = workbook::parse_column_letters(text.substr(0, colon));
        auto to = colon == std::u16string_view::npos ? from : workbook::parse_column_letters(text.substr(colon + 1));
        if (from && to) {
            first = std::min(*from, *to);
            last = std::max(*from, *to);
        }
    } else if (auto rows = workbook::parse_row_numbers(position.string())) {
        first = rows->first.row;
        last = rows->last.row;
    }
    const int64_t start = columns ? m_area.first.column : m_area.first.row;
    const int64_t limit = columns ? int64_t{workbook::kMaxColumns} : int64_t{workbook::kMaxRows};
    first += start - 1;
    last += start - 1;
    if (first < start || last > limit)
        throw object_error(to_utf8(member) + "(" + to_utf8(to_bstr(position)) + ") of " +
                           to_utf8(workbook::format_a1(m_area)) + " lies outside the sheet");
    workbook::CellArea area = m_area;
    if (columns) {
        area.first.column = static_cast<uint16_t>(first);
        area.last.column = static_cast<uint16_t>(last);
    } else {
        area.first.row = static_cast<uint32_t>(first);
        area.last.row = static_cast<uint32_t>(last);
    }
    return new_object<Range>(m_sheet, area, taken);
}

// Columns(N): the N-th column of the range, over the range's rows; Rows(N) the N-th row, over
// its columns. Without N, the range itself taken as columns or rows.
Variant Range::lines_of(std::span<const Variant> args, Taken taken)
{
    const std::u16string_view member = taken == Taken::columns ? u"Columns" : u"Rows";
    check_arguments(args, 0, 1, member);
    if (args.empty())
        return new_object<Range>(m_sheet, m_area, taken);
    return line_at(args[0], taken, member);
}

Variant Range::columns_of(std::span<const Variant> args)
{
    return lines_of(args, Taken::columns);
}

Variant Range::entire_column()
{
    return new_object<Range>(m_sheet, workbook::whole_columns(m_area.first.column, m_area.last.column), Taken::columns);
}

Variant Range::rows()
{
    return new_object<Range>(m_sheet, m_area, Taken::rows);
}

Variant Range::rows_of(std::span<const Variant> args)
{
    return lines_of(args, Taken::rows);
}

Variant Range::entire_row()
{
    return new_object<Range>(m_sheet, workbook::whole_rows(m_area.first.row, m_area.last.row), Taken::rows);
}

// Item(N): the N-th column or row of a range taken so, else its N-th cell counted along its rows;
// Item(Row, Column): the cell at that place counted from the range's first cell.
Variant Range::item(std::span<const Variant> args)
{
    check_arguments(args, 1, 2, u"Item");
    const uint32_t width = m_area.last.column - m_area.first.column + 1;
    int64_t row = 0;
    int64_t column = 0;
    if (args.size() == 1 || !argument(args, 1)) {
        if (m_taken == Taken::columns)
            return line_at(args[0], Taken::columns, u"Item");
        if (m_taken == Taken::rows)
            return line_at(args[0], Taken::rows, u"Item");
        int64_t number = to_i4(args[0]);
        if (number >= 1) {
            row = m_area.first.row + (number - 1) / width;
            column = m_area.first.column + (number - 1) % width;
        }
    } else {
        row = int64_t{m_area.first.row} + to_i4(args[0]) - 1;
        column = int64_t{m_area.first.column} + to_i4(args[1]) - 1;
    }
    if (row < 1 || row > workbook::kMaxRows || column < 1 || column > workbook::kMaxColumns) {
        std::string given = to_utf8(to_bstr(args[0]));
        if (args.size() == 2)
            given += ", " + to_utf8(to_bstr(args[1]));
        throw object_error("Item(" + given + ") of " + to_utf8(workbook::format_a1(m_area)) +
                           " lies outside the sheet");
    }
    workbook::CellAddress address{static_cast<uint32_t>(row), static_cast<uint16_t>(column)};
    return new_object<Range>(m_sheet, workbook::CellArea{address, address});
}

Variant Range::call_default(std::span<const Variant> args)
{
    if (args.empty())
        return ModelObject<Range>::call_default(args);
    check_alive();
    return item(args);
}

// The width of the range's columns, or Null when they differ.
Variant Range::column_width()
{
    return size_or_null(m_sheet.sheet().column_widths().common_size(m_area.first.column, m_area.last.column));
}

void Range::set_column_width(const Variant& value)
{
    m_sheet.sheet().column_widths().set(m_area.first.column, m_area.last.column, to_r8(value));
}

// The height of the range's rows in points, or Null when they differ.
Variant Range::row_height()
{
    return size_or_null(m_sheet.sheet().row_heights().common_size(m_area.first.row, m_area.last.row));
}

void Range::set_row_height(const Variant& value)
{
    m_sheet.sheet().row_heights().set(m_area.first.row, m_area.last.row, to_r8(value));
}

// The format of the range's first cell.
Variant Range::number_format()
{
    return BStr(m_sheet.sheet().number_format(m_area.first));
}

void Range::set_number_format(const Variant& value)
{
    m_sheet.sheet().set_number_format(m_area, to_bstr(value));
}

// Fits the widths of the columns to the range's cells; only a range taken as columns
// (Columns, EntireColumn, or whole columns such as Range("A:C")) can.
Variant Range::autofit(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"AutoFit");
    bool whole_columns = m_area.first.row == 1 && m_area.last.row == workbook::kMaxRows;
    if (m_taken != Taken::columns && !whole_columns)
        throw object_error("AutoFit method of Range class failed: " + to_utf8(workbook::format_a1(m_area)) +
                           " is not whole columns; fit its columns with .Columns.AutoFit()");
    m_sheet.sheet().autofit_columns(m_area);
    return {};
}

}  // namespace varne::embedded
