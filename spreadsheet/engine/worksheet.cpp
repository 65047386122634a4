#include "spreadsheet/engine/worksheet.h"

#include "frame/automation_error.h"
#include "spreadsheet/engine/number_format.h"

#include <algorithm>
#include <cmath>

namespace varne::workbook {

namespace {

constexpr int32_t kApplicationError = 1004;

void check_address(const CellAddress& address)
{
    if (!is_valid_address(address))
        throw AutomationError(kApplicationError, "Application-defined or object-defined error");
}

template <typename Row>
auto find_column(Row& row, uint16_t column)
{
    return std::lower_bound(row.begin(), row.end(), column,
                            [](const auto& cell, uint16_t wanted) { return cell.column < wanted; });
}

}  // namespace

Worksheet::Worksheet(std::u16string name) : m_name(std::move(name)) {}

CellValue Worksheet::cell(const CellAddress& address) const
{
    return std::visit(
        [](const auto& value) -> CellValue {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::u16string_view>)
                return std::u16string(value);
            else
                return value;
        },
        cell_view(address));
}

CellValueView Worksheet::cell_view(const CellAddress& address) const
{
    check_address(address);
    if (address.row > m_rows.size())
        return std::monostate{};
    const Row& row = m_rows[address.row - 1];
    auto at = find_column(row, address.column);
    if (at == row.end() || at->column != address.column)
        return std::monostate{};
    return view_of(*at);
}

void Worksheet::set_cell(const CellAddress& address, CellValue value)
{
    check_address(address);
    auto* text = std::get_if<std::u16string>(&value);
    if (text && text->size() > kMaxTextLength)
        throw AutomationError(kApplicationError, "Application-defined or object-defined error");
    if (auto* number = std::get_if<double>(&value); number && !std::isfinite(*number))
        throw AutomationError::overflow();
    if (auto* date = std::get_if<DateTime>(&value); date && !std::isfinite(date->serial))
        throw AutomationError::overflow();

    bool empty = std::holds_alternative<std::monostate>(value) || (text && text->empty());
    if (address.row > m_rows.size()) {
        if (empty)
            return;
        m_rows.resize(address.row);
    }
    Row& row = m_rows[address.row - 1];
    // Rows are mostly filled left to right: appending needs no search.
    auto at = !row.empty() && row.back().column >= address.column ? find_column(row, address.column) : row.end();
    bool exists = at != row.end() && at->column == address.column;
    if (empty) {
        if (exists)
            erase_cell(row, at);
        return;
    }
    if (exists) {
        release_text(*at);
    } else {
        at = row.insert(at, StoredCell{address.column, Kind::number, {0.0}});
        ++m_cell_count;
    }
    StoredCell& cell = *at;
    std::visit(
        [&](auto&& held) {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, double>) {
                cell.kind = Kind::number;
                cell.number = held;
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                cell.kind = Kind::text;
                cell.text = store_text(std::forward<decltype(held)>(held));
            } else if constexpr (std::is_same_v<T, bool>) {
                cell.kind = Kind::boolean;
                cell.boolean = held;
            } else if constexpr (std::is_same_v<T, DateTime>) {
                cell.kind = Kind::date_time;
                cell.number = held.serial;
            }
        },
        std::move(value));
}

std::optional<CellArea> Worksheet::used_area() const
{
    if (m_cell_count == 0)
        return std::nullopt;
    CellArea area{{kMaxRows, kMaxColumns}, {1, 1}};
    for (uint32_t index = 0; index < m_rows.size(); ++index) {
        const Row& row = m_rows[index];
        if (row.empty())
            continue;
        area.first.row = std::min(area.first.row, index + 1);
        area.last.row = index + 1;
        area.first.column = std::min(area.first.column, row.front().column);
        area.last.column = std::max(area.last.column, row.back().column);
    }
    return area;
}

CellValueView Worksheet::view_of(const StoredCell& cell) const
{
    switch (cell.kind) {
    case Kind::number:
        return cell.number;
    case Kind::text:
        return std::u16string_view(m_texts[cell.text]);
    case Kind::boolean:
        return cell.boolean;
    case Kind::date_time:
        return DateTime{cell.number};
    }
    return std::monostate{};
}

uint32_t Worksheet::store_text(std::u16string&& text)
{
    if (m_free_texts.empty()) {
        m_texts.push_back(std::move(text));
        return static_cast<uint32_t>(m_texts.size() - 1);
    }
    uint32_t slot = m_free_texts.back();
    m_free_texts.pop_back();
    m_texts[slot] = std::move(text);
    return slot;
}

void Worksheet::release_text(const StoredCell& cell)
{
    if (cell.kind != Kind::text)
        return;
    m_texts[cell.text] = std::u16string();
    m_free_texts.push_back(cell.text);
}

void Worksheet::erase_cell(Row& row, Row::iterator at)
{
    release_text(*at);
    row.erase(at);
    --m_cell_count;
    while (!m_rows.empty() && m_rows.back().empty())
        m_rows.pop_back();
}

namespace {

void check_column(uint16_t column)
{
    if (column < 1 || column > kMaxColumns)
        throw AutomationError(kApplicationError, "Application-defined or object-defined error");
}

bool contains(const CellArea& outer, const CellArea& inner)
{
    return outer.first.row <= inner.first.row && outer.first.column <= inner.first.column &&
           inner.last.row <= outer.last.row && inner.last.column <= outer.last.column;
}

bool contains(const CellArea& area, const CellAddress& address)
{
    return contains(area, CellArea{address, address});
}

// What a column needs beyond its widest text: the cell's margins and the rounding of the
// digit width to whole pixels, which makes a digit a little wider on screen than one unit.
constexpr double kAutoFitScale = 1.07;
constexpr double kAutoFitMargin = 0.75;

}  // namespace

double Worksheet::column_width(uint16_t column) const
{
    check_column(column);
    return has_column_width(column) ? m_column_widths[column - 1] : kStandardColumnWidth;
}

bool Worksheet::has_column_width(uint16_t column) const
{
    return column >= 1 && column <= m_column_widths.size() && !std::isnan(m_column_widths[column - 1]);
}

void Worksheet::set_column_width(uint16_t column, double width)
{
    check_column(column);
    if (!(width >= 0 && width <= kMaxColumnWidth))
        throw AutomationError(kApplicationError, "Unable to set the ColumnWidth property of the Range class: " +
                                                     std::to_string(width) + " is outside 0 to 255");
    if (m_column_widths.size() < column)
        m_column_widths.resize(column, std::nan(""));
    m_column_widths[column - 1] = width;
}

double Worksheet::row_height(uint32_t row) const
{
    check_address({row, 1});
    return has_row_height(row) ? m_row_heights[row - 1] : kStandardRowHeight;
}

bool Worksheet::has_row_height(uint32_t row) const
{
    return row >= 1 && row <= m_row_heights.size() && !std::isnan(m_row_heights[row - 1]);
}

void Worksheet::set_row_height(uint32_t row, double height)
{
    check_address({row, 1});
    if (!(height >= 0 && height <= kMaxRowHeight))
        throw AutomationError(kApplicationError, "Unable to set the RowHeight property of the Range class: " +
                                                     std::to_string(height) + " is outside 0 to 409");
    if (m_row_heights.size() < row)
        m_row_heights.resize(row, std::nan(""));
    m_row_heights[row - 1] = height;
}

void Worksheet::autofit_columns(const CellArea& area)
{
    check_address(area.first);
    check_address(area.last);
    std::vector<double> widest(kMaxColumns + 1, -1);
    uint32_t last_row = std::min(area.last.row, row_limit());
    for (uint32_t row = area.first.row; row <= last_row; ++row) {
        for_each_cell_in_row(row, [&](uint16_t column, const CellValueView& value) {
            if (column < area.first.column || column > area.last.column)
                return;
            double width = text_width(displayed_text(value, number_format({row, column})));
            widest[column] = std::max(widest[column], width);
        });
    }
    for (uint16_t column = area.first.column; column <= area.last.column; ++column) {
        if (widest[column] >= 0)
            set_column_width(column, std::min(kMaxColumnWidth, widest[column] * kAutoFitScale + kAutoFitMargin));
    }
}

std::u16string_view Worksheet::number_format(const CellAddress& address) const
{
    check_address(address);
    for (auto region = m_formats.rbegin(); region != m_formats.rend(); ++region) {
        if (contains(region->area, address))
            return region->format;
    }
    return kGeneralFormat;
}

void Worksheet::set_number_format(const CellArea& area, std::u16string format)
{
    check_address(area.first);
    check_address(area.last);
    if (format.empty() || format.size() > kMaxNumberFormatLength)
        throw AutomationError(kApplicationError, "Unable to set the NumberFormat property of the Range class: a "
                                                 "format has 1 to 255 characters, not " +
                                                     std::to_string(format.size()));
    // Formats hidden entirely under the new one are dropped, so that formatting the same
    // cells again and again does not grow the list.
    std::erase_if(m_formats, [&](const FormatRegion& region) { return contains(area, region.area); });
    m_formats.push_back({area, std::move(format)});
}

}  // namespace varne::workbook
