#include "spreadsheet/workbook/worksheet.h"

#include "frame/automation_error.h"
#include "spreadsheet/workbook/number_format.h"

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

void LineSizes::check_line(uint32_t line) const
{
    if (line < 1 || line > m_lines)
        throw AutomationError(kApplicationError, "Application-defined or object-defined error");
}

double LineSizes::size(uint32_t line) const
{
    check_line(line);
    return has_own(line) ? m_own[line - 1] : m_standard;
}

bool LineSizes::has_own(uint32_t line) const
{
    return line >= 1 && line <= m_own.size() && !std::isnan(m_own[line - 1]);
}

std::optional<double> LineSizes::common_size(uint32_t first, uint32_t last) const
{
    double common = size(first);
    // Past the last line sized on its own, every line has the standard size.
    uint32_t end = std::min(last, std::max(last_with_own() + 1, first));
    for (uint32_t line = first + 1; line <= end; ++line) {
        if (size(line) != common)
            return std::nullopt;
    }
    if (end < last && m_standard != common)
        return std::nullopt;
    return common;
}

void LineSizes::set(uint32_t first, uint32_t last, double size)
{
    check_line(first);
    check_line(last);
    if (!(size >= 0 && size <= m_max))
        throw AutomationError(kApplicationError, std::string("Unable to set the ") + m_property +
                                                     " property of the Range class: " + std::to_string(size) +
                                                     " is outside 0 to " + std::to_string(std::lround(m_max)));
    if (first == 1 && last == m_lines) {
        m_standard = size;
        m_own.clear();
        return;
    }
    if (m_own.size() < last)
        m_own.resize(last, std::nan(""));
    std::fill(m_own.begin() + (first - 1), m_own.begin() + last, size);
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
            m_column_widths.set(column, column,
                                std::min(kMaxColumnWidth, widest[column] * kAutoFitScale + kAutoFitMargin));
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
