#include "spreadsheet/workbook/cell_reference.h"

#include <algorithm>

namespace varne::workbook {

namespace {

bool is_letter(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::optional<uint32_t> parse_row_digits(std::u16string_view digits)
{
    if (digits.empty() || digits.size() > 5 || digits.front() == u'0')
        return std::nullopt;
    uint32_t row = 0;
    for (char16_t c : digits) {
        if (!is_digit(c))
            return std::nullopt;
        row = row * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (row > kMaxRows)
        return std::nullopt;
    return row;
}

std::u16string_view skip_dollar(std::u16string_view text)
{
    return !text.empty() && text.front() == u'$' ? text.substr(1) : text;
}

// One end of a reference: a cell, a column alone or a row alone.
struct ReferencePart {
    std::optional<uint16_t> column;
    std::optional<uint32_t> row;
};

std::optional<ReferencePart> parse_part(std::u16string_view text)
{
    text = skip_dollar(text);
    size_t letters = 0;
    while (letters < text.size() && is_letter(text[letters]))
        ++letters;
    ReferencePart part;
    if (letters > 0) {
        part.column = parse_column_letters(text.substr(0, letters));
        if (!part.column)
            return std::nullopt;
    }
    std::u16string_view rest = text.substr(letters);
    if (!rest.empty()) {
        // "$" may stand before the row only when a column came first ("A$1", not "$$1").
        if (letters > 0)
            rest = skip_dollar(rest);
        part.row = parse_row_digits(rest);
        if (!part.row)
            return std::nullopt;
    }
    if (!part.column && !part.row)
        return std::nullopt;
    return part;
}

}  // namespace

bool is_valid_address(const CellAddress& address)
{
    return address.row >= 1 && address.row <= kMaxRows && address.column >= 1 && address.column <= kMaxColumns;
}

std::optional<uint16_t> parse_column_letters(std::u16string_view letters)
{
    if (letters.empty() || letters.size() > 2)
        return std::nullopt;
    uint32_t column = 0;
    for (char16_t c : letters) {
        if (!is_letter(c))
            return std::nullopt;
        column = column * 26 + static_cast<uint32_t>((c | 0x20) - u'a' + 1);
    }
    if (column > kMaxColumns)
        return std::nullopt;
    return static_cast<uint16_t>(column);
}

std::u16string column_letters(uint16_t column)
{
    std::u16string letters;
    for (uint32_t rest = column; rest > 0; rest = (rest - 1) / 26)
        letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (rest - 1) % 26));
    return letters;
}

std::optional<CellArea> parse_a1_reference(std::u16string_view text)
{
    size_t colon = text.find(u':');
    auto first = parse_part(text.substr(0, colon));
    if (!first)
        return std::nullopt;
    if (colon == std::u16string_view::npos) {
        if (!first->column || !first->row)
            return std::nullopt;
        CellAddress cell{*first->row, *first->column};
        return CellArea{cell, cell};
    }
    auto second = parse_part(text.substr(colon + 1));
    if (!second)
        return std::nullopt;
    bool cells = first->column && first->row && second->column && second->row;
    bool columns = first->column && !first->row && second->column && !second->row;
    bool rows = !first->column && first->row && !second->column && second->row;
    if (!cells && !columns && !rows)
        return std::nullopt;
    uint16_t column_a = first->column.value_or(1);
    uint16_t column_b = second->column.value_or(kMaxColumns);
    uint32_t row_a = first->row.value_or(1);
    uint32_t row_b = second->row.value_or(kMaxRows);
    return CellArea{{std::min(row_a, row_b), std::min(column_a, column_b)},
                    {std::max(row_a, row_b), std::max(column_a, column_b)}};
}

std::u16string format_a1(const CellAddress& address)
{
    std::u16string text = column_letters(address.column);
    for (char c : std::to_string(address.row))
        text += static_cast<char16_t>(c);
    return text;
}

std::u16string format_a1(const CellArea& area)
{
    if (area.first == area.last)
        return format_a1(area.first);
    return format_a1(area.first) + u":" + format_a1(area.last);
}

CellArea whole_columns(uint16_t first, uint16_t last)
{
    return {{1, first}, {kMaxRows, last}};
}

CellArea whole_rows(uint32_t first, uint32_t last)
{
    return {{first, 1}, {last, kMaxColumns}};
}

std::optional<CellArea> parse_row_numbers(std::u16string_view text)
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
        if (value < 1 || value > kMaxRows)
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

}  // namespace varne::workbook
