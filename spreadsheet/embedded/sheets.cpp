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

// Columns(2), Columns("B") or Columns("B:D"): whole columns of the sheet.
std::optional<workbook::CellArea> named_columns(const Variant& given)
{
    if (given.type() == VarType::String) {
        const BStr& text = given.string();
        if (text.find(u':') != BStr::npos) {
            auto area = workbook::parse_a1_reference(text);
            if (area && (area->first.row != 1 || area->last.row != workbook::kMaxRows))
                return std::nullopt;
            return area;
        }
        if (auto column = workbook::parse_column_letters(text))
            return workbook::whole_columns(*column, *column);
        return std::nullopt;
    }
    if (int32_t column = to_i4(given); column >= 1 && column <= workbook::kMaxColumns)
        return workbook::whole_columns(static_cast<uint16_t>(column), static_cast<uint16_t>(column));
    return std::nullopt;
}

// Rows(2), Rows("2") or Rows("2:4"): whole rows of the sheet.
std::optional<workbook::CellArea> named_rows(const Variant& given)
{
    if (given.type() == VarType::String)
        return workbook::parse_row_numbers(given.string());
    if (int32_t row = to_i4(given); row >= 1 && row <= int32_t{workbook::kMaxRows})
        return workbook::whole_rows(static_cast<uint32_t>(row), static_cast<uint32_t>(row));
    return std::nullopt;
}

// A sheet's Columns or Rows: the member, how its range is taken, all of the sheet's lines, the
// lines that an argument names, and what the sheet has, as an error tells it.
struct SheetLines {
    std::u16string_view member;
    Taken taken;
    workbook::CellArea all;
    std::optional<workbook::CellArea> (*named)(const Variant& given);
    const char* kind;
    const char* extent;
};

const SheetLines kColumns{u"Columns",    Taken::columns, workbook::whole_columns(1, workbook::kMaxColumns),
                          named_columns, "columns",      "columns 1 to 256 (A to IV)"};
const SheetLines kRows{u"Rows",    Taken::rows, workbook::whole_rows(1, workbook::kMaxRows),
                       named_rows, "rows",      "rows 1 to 65536"};

// The whole sheet's lines without an argument, else the lines that it names.
Variant lines_named(const SheetRef& sheet, std::span<const Variant> args, const SheetLines& lines)
{
    check_arguments(args, 0, 1, lines.member);
    if (args.empty())
        return new_object<Range>(sheet, lines.all, lines.taken);
    const auto area = lines.named(args[0]);
    if (!area)
        throw object_error(to_utf8(lines.member) + "(" + to_utf8(to_bstr(args[0])) + ") names no " + lines.kind +
                           " of the sheet, which has " + lines.extent);
    return new_object<Range>(sheet, *area, lines.taken);
}

}  // namespace

Variant worksheet_object(const BookRef& book, size_t index)
{
    return new_object<Worksheet>(SheetRef(book, book.book().slot(index)));
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
    return new_object<Range>(m_sheet, kColumns.all, kColumns.taken);
}

Variant Worksheet::columns_of(std::span<const Variant> args)
{
    return lines_named(m_sheet, args, kColumns);
}

Variant Worksheet::rows()
{
    return new_object<Range>(m_sheet, kRows.all, kRows.taken);
}

Variant Worksheet::rows_of(std::span<const Variant> args)
{
    return lines_named(m_sheet, args, kRows);
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

}  // namespace varne::embedded
