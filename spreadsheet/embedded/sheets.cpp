#include "spreadsheet/embedded/objects.h"

#include <optional>
#include <string>

namespace varne::embedded {

namespace {

std::string quoted(std::u16string_view text)
{
    return "'" + to_utf8(text) + "'";
}

using Taken = Range::Taken;

workbook::CellArea whole_columns(uint16_t first, uint16_t last)
{
    return {{1, first}, {workbook::kMaxRows, last}};
}

workbook::CellArea whole_rows(uint32_t first, uint32_t last)
{
    return {{first, 1}, {last, workbook::kMaxColumns}};
}

// "3" or "2:5": row numbers as Rows takes them in a text.
std::optional<workbook::CellArea> parse_rows(std::u16string_view text)
{
    auto number = [](std::u16string_view digits) -> std::optional<uint32_t> {
        if (digits.empty() || digits.size() > 5)
            return std::nullopt;
        uint32_t value = 0;
        for (char16_t c : digits) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c - u'0');
        }
        if (value < 1 || value > workbook::kMaxRows)
            return std::nullopt;
        return value;
    };
    size_t colon = text.find(u':');
    auto first = number(text.substr(0, colon));
    auto last = colon == std::u16string_view::npos ? first : number(text.substr(colon + 1));
    if (!first || !last)
        return std::nullopt;
    return whole_rows(std::min(*first, *last), std::max(*first, *last));
}

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

}  // namespace

Variant worksheet_object(const BookRef& book, size_t index)
{
    return new_object<Worksheet>(SheetRef(book, book.book().slot(index)));
}

std::span<const Sheets::Member> Sheets::members()
{
    static const Member kMembers[] = {
        {.name = u"Add", .call = &Sheets::add},
        {.name = u"Count", .get = &Sheets::count},
        {.name = u"Item", .call = &Sheets::item},
    };
    return kMembers;
}

Variant Sheets::count()
{
    return static_cast<int32_t>(m_book.book().sheet_count());
}

Variant Sheets::item(std::span<const Variant> args)
{
    check_arguments(args, 1, 1, u"Item");
    Book& book = m_book.book();
    if (args[0].type() == VarType::String) {
        auto index = book.find_sheet(args[0].string());
        if (!index)
            throw AutomationError(error_number::kSubscriptOutOfRange, "Subscript out of range: workbook " +
                                                                          quoted(book.name()) + " has no sheet " +
                                                                          quoted(args[0].string()));
        return worksheet_object(m_book, *index);
    }
    int32_t position = to_i4(args[0]);
    if (position < 1 || static_cast<size_t>(position) > book.sheet_count())
        throw AutomationError(error_number::kSubscriptOutOfRange,
                              "Subscript out of range: workbook " + quoted(book.name()) + " has no sheet " +
                                  std::to_string(position) + " (it has " + std::to_string(book.sheet_count()) + ")");
    return worksheet_object(m_book, static_cast<size_t>(position) - 1);
}

size_t Sheets::position_of(const Variant& sheet, std::u16string_view argument) const
{
    Ref<Dispatch> object = to_object(sheet);
    auto* worksheet = dynamic_cast<Worksheet*>(object.get());
    if (!worksheet)
        throw AutomationError(error_number::kTypeMismatch,
                              "Type mismatch: " + to_utf8(argument) + " of Sheets.Add must be a sheet");
    if (worksheet->sheet_ref().book_ref().shared_book() != m_book.shared_book())
        throw object_error("Sheets.Add: the sheet given as " + to_utf8(argument) + " belongs to another workbook");
    return worksheet->sheet_ref().index();
}

// Add(Before, After, Count, Type): the new sheets go before the active sheet unless told
// otherwise, and the last of them becomes the active sheet.
Variant Sheets::add(std::span<const Variant> args)
{
    check_arguments(args, 0, 4, u"Add");
    Book& book = m_book.book();
    const Variant* before = argument(args, 0);
    const Variant* after = argument(args, 1);
    if (before && after)
        throw object_error("Sheets.Add: give Before or After, not both");
    size_t position = book.content().active_sheet();
    if (before)
        position = position_of(*before, u"Before");
    if (after)
        position = position_of(*after, u"After") + 1;
    int32_t count = 1;
    if (const Variant* given = argument(args, 2))
        count = to_i4(*given);
    if (count < 1)
        throw object_error("Sheets.Add: Count must be at least 1, not " + std::to_string(count));
    if (const Variant* type = argument(args, 3); type && to_i4(*type) != kWorksheetType)
        throw object_error("Sheets.Add: only worksheets (type -4167) can be added, not type " +
                           std::to_string(to_i4(*type)));
    for (int32_t i = 0; i < count; ++i)
        book.add_sheet(position + static_cast<size_t>(i));
    size_t last = position + static_cast<size_t>(count) - 1;
    book.content().set_active_sheet(last);
    return worksheet_object(m_book, last);
}

std::span<const Worksheet::Member> Worksheet::members()
{
    static const Member kMembers[] = {
        {.name = u"Activate", .call = &Worksheet::activate},
        {.name = u"Cells", .call = &Worksheet::cells},
        {.name = u"Columns", .get = &Worksheet::columns, .call = &Worksheet::columns_of},
        {.name = u"Delete", .call = &Worksheet::delete_sheet},
        {.name = u"Index", .get = &Worksheet::index},
        {.name = u"Name", .get = &Worksheet::name, .put = &Worksheet::set_name},
        {.name = u"Parent", .get = &Worksheet::parent},
        {.name = u"Range", .call = &Worksheet::range},
        {.name = u"Rows", .get = &Worksheet::rows, .call = &Worksheet::rows_of},
        {.name = u"Select", .call = &Worksheet::select},
    };
    return kMembers;
}

Variant Worksheet::name()
{
    return BStr(m_sheet.sheet().name());
}

void Worksheet::set_name(const Variant& value)
{
    m_sheet.book_ref().book().content().rename_sheet(m_sheet.index(), to_bstr(value));
}

Variant Worksheet::index()
{
    return static_cast<int32_t>(m_sheet.index() + 1);
}

Variant Worksheet::parent()
{
    return new_object<Workbook>(m_sheet.book_ref());
}

// Cells() is the whole sheet, Cells(N) the N-th cell counted along the rows, Cells(Row,
// Column) one cell, with the column as a number or as letters.
Variant Worksheet::cells(std::span<const Variant> args)
{
    check_arguments(args, args.size(), 2, u"Cells");
    using workbook::kMaxColumns;
    using workbook::kMaxRows;
    if (args.empty())
        return new_object<Range>(m_sheet, workbook::CellArea{{1, 1}, {kMaxRows, kMaxColumns}});
    int64_t row = 0;
    int64_t column = 0;
    if (args.size() == 1) {
        int64_t number = to_i4(args[0]);
        if (number >= 1 && number <= int64_t{kMaxRows} * kMaxColumns) {
            row = (number - 1) / kMaxColumns + 1;
            column = (number - 1) % kMaxColumns + 1;
        }
    } else {
        row = to_i4(args[0]);
        if (args[1].type() == VarType::String)
            column = workbook::parse_column_letters(args[1].string()).value_or(0);
        else
            column = to_i4(args[1]);
    }
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) {
        std::string given = to_utf8(to_bstr(args[0]));
        if (args.size() == 2)
            given += ", " + to_utf8(to_bstr(args[1]));
        throw object_error("Cells(" + given + ") is outside the sheet, which has rows 1 to 65536 and columns 1 to 256");
    }
    workbook::CellAddress address{static_cast<uint32_t>(row), static_cast<uint16_t>(column)};
    return new_object<Range>(m_sheet, workbook::CellArea{address, address});
}

Variant Worksheet::columns()
{
    return new_object<Range>(m_sheet, whole_columns(1, workbook::kMaxColumns), Taken::columns);
}

// Columns(2), Columns("B") or Columns("B:D"): whole columns of the sheet.
Variant Worksheet::columns_of(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Columns");
    if (args.empty())
        return columns();
    std::optional<workbook::CellArea> area;
    if (args[0].type() == VarType::String) {
        const BStr& text = args[0].string();
        if (text.find(u':') != BStr::npos) {
            area = workbook::parse_a1_reference(text);
            if (area && (area->first.row != 1 || area->last.row != workbook::kMaxRows))
                area.reset();
        } else if (auto column = workbook::parse_column_letters(text)) {
            area = whole_columns(*column, *column);
        }
    } else if (int32_t column = to_i4(args[0]); column >= 1 && column <= workbook::kMaxColumns) {
        area = whole_columns(static_cast<uint16_t>(column), static_cast<uint16_t>(column));
    }
    if (!area)
        throw object_error("Columns(" + to_utf8(to_bstr(args[0])) +
                           ") names no columns of the sheet, which has columns 1 to 256 (A to IV)");
    return new_object<Range>(m_sheet, *area, Taken::columns);
}

Variant Worksheet::rows()
{
    return new_object<Range>(m_sheet, whole_rows(1, workbook::kMaxRows), Taken::rows);
}

// Rows(2), Rows("2") or Rows("2:4"): whole rows of the sheet.
Variant Worksheet::rows_of(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Rows");
    if (args.empty())
        return rows();
    std::optional<workbook::CellArea> area;
    if (args[0].type() == VarType::String)
        area = parse_rows(args[0].string());
    else if (int32_t row = to_i4(args[0]); row >= 1 && row <= int32_t{workbook::kMaxRows})
        area = whole_rows(static_cast<uint32_t>(row), static_cast<uint32_t>(row));
    if (!area)
        throw object_error("Rows(" + to_utf8(to_bstr(args[0])) +
                           ") names no rows of the sheet, which has rows 1 to 65536");
    return new_object<Range>(m_sheet, *area, Taken::rows);
}

workbook::CellArea Worksheet::area_of(const Variant& reference) const
{
    if (reference.type() == VarType::Object) {
        auto* range = dynamic_cast<Range*>(reference.object().get());
        if (!range)
            throw AutomationError(error_number::kTypeMismatch,
                                  "Type mismatch: Range takes a cell reference or a range");
        if (range->sheet_ref().slot() != m_sheet.slot())
            throw object_error("Range: the range given is on another sheet");
        range->sheet_ref().sheet();
        return range->area();
    }
    BStr text = to_bstr(reference);
    auto area = workbook::parse_a1_reference(text);
    if (!area)
        throw object_error("Range: " + quoted(text) + " is not a cell reference of the sheet");
    return *area;
}

// Range(Cell1) or Range(Cell1, Cell2): the smallest rectangle holding both.
Variant Worksheet::range(std::span<const Variant> args)
{
    check_arguments(args, 1, 2, u"Range");
    workbook::CellArea area = area_of(args[0]);
    if (const Variant* second = argument(args, 1)) {
        workbook::CellArea other = area_of(*second);
        area = {{std::min(area.first.row, other.first.row), std::min(area.first.column, other.first.column)},
                {std::max(area.last.row, other.last.row), std::max(area.last.column, other.last.column)}};
    }
    return new_object<Range>(m_sheet, area);
}

Variant Worksheet::select(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Select");
    const BookRef& book = m_sheet.book_ref();
    if (book.instance().active_book() != book.shared_book())
        throw object_error("Select: workbook " + quoted(book.book().name()) + " is not the active workbook");
    book.book().content().set_active_sheet(m_sheet.index());
    return {};
}

Variant Worksheet::activate(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"Activate");
    const BookRef& book = m_sheet.book_ref();
    book.instance().activate(book.shared_book());
    book.book().content().set_active_sheet(m_sheet.index());
    return {};
}

Variant Worksheet::delete_sheet(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"Delete");
    m_sheet.book_ref().book().remove_sheet(m_sheet.index());
    return {};
}

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

// A position among the range's columns, as a number from 1 or as letters ("B", "B:D") that
// count from the range's first column as A.
Variant Range::column_at(const Variant& position, std::u16string_view member) const
{
    int64_t first = 0;
    int64_t last = 0;
    if (position.type() == VarType::String) {
        std::u16string_view text = position.string();
        size_t colon = text.find(u':');
        auto from = workbook::parse_column_letters(text.substr(0, colon));
        auto to = colon == std::u16string_view::npos ? from : workbook::parse_column_letters(text.substr(colon + 1));
        if (from && to) {
            first = std::min(*from, *to);
            last = std::max(*from, *to);
        }
    } else {
        first = last = to_i4(position);
    }
    first += m_area.first.column - 1;
    last += m_area.first.column - 1;
    if (first < m_area.first.column || last > workbook::kMaxColumns)
        throw object_error(to_utf8(member) + "(" + to_utf8(to_bstr(position)) + ") of " +
                           to_utf8(workbook::format_a1(m_area)) + " lies outside the sheet");
    return new_object<Range>(m_sheet,
                             workbook::CellArea{{m_area.first.row, static_cast<uint16_t>(first)},
                                                {m_area.last.row, static_cast<uint16_t>(last)}},
                             Taken::columns);
}

// A position among the range's rows, as a number from 1 or as a text ("2", "2:4") that counts
// from the range's first row as 1.
Variant Range::row_at(const Variant& position, std::u16string_view member) const
{
    int64_t first = 0;
    int64_t last = 0;
    if (position.type() == VarType::String) {
        if (auto rows = parse_rows(position.string())) {
            first = rows->first.row;
            last = rows->last.row;
        }
    } else {
        first = last = to_i4(position);
    }
    first += m_area.first.row - 1;
    last += m_area.first.row - 1;
    if (first < m_area.first.row || last > workbook::kMaxRows)
        throw object_error(to_utf8(member) + "(" + to_utf8(to_bstr(position)) + ") of " +
                           to_utf8(workbook::format_a1(m_area)) + " lies outside the sheet");
    return new_object<Range>(m_sheet,
                             workbook::CellArea{{static_cast<uint32_t>(first), m_area.first.column},
                                                {static_cast<uint32_t>(last), m_area.last.column}},
                             Taken::rows);
}

// Columns(N): the N-th column of the range, over the range's rows.
Variant Range::columns_of(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Columns");
    if (args.empty())
        return columns();
    return column_at(args[0], u"Columns");
}

Variant Range::entire_column()
{
    return new_object<Range>(m_sheet, whole_columns(m_area.first.column, m_area.last.column), Taken::columns);
}

Variant Range::rows()
{
    return new_object<Range>(m_sheet, m_area, Taken::rows);
}

// Rows(N): the N-th row of the range, over the range's columns.
Variant Range::rows_of(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Rows");
    if (args.empty())
        return rows();
    return row_at(args[0], u"Rows");
}

Variant Range::entire_row()
{
    return new_object<Range>(m_sheet, whole_rows(m_area.first.row, m_area.last.row), Taken::rows);
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
            return column_at(args[0], u"Item");
        if (m_taken == Taken::rows)
            return row_at(args[0], u"Item");
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
    const workbook::Worksheet& sheet = m_sheet.sheet();
    double width = sheet.column_width(m_area.first.column);
    for (uint16_t column = m_area.first.column + 1; column <= m_area.last.column; ++column) {
        if (sheet.column_width(column) != width)
            return Variant::Null{};
    }
    return width;
}

void Range::set_column_width(const Variant& value)
{
    double width = to_r8(value);
    workbook::Worksheet& sheet = m_sheet.sheet();
    for (uint16_t column = m_area.first.column; column <= m_area.last.column; ++column)
        sheet.set_column_width(column, width);
}

// The height of the range's rows in points, or Null when they differ.
Variant Range::row_height()
{
    const workbook::Worksheet& sheet = m_sheet.sheet();
    double height = sheet.row_height(m_area.first.row);
    for (uint32_t row = m_area.first.row + 1; row <= m_area.last.row; ++row) {
        if (sheet.row_height(row) != height)
            return Variant::Null{};
    }
    return height;
}

void Range::set_row_height(const Variant& value)
{
    double height = to_r8(value);
    workbook::Worksheet& sheet = m_sheet.sheet();
    for (uint32_t row = m_area.first.row; row <= m_area.last.row; ++row)
        sheet.set_row_height(row, height);
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
