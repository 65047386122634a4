#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace varne::workbook {

// A date-time cell value as an automation date: days since 30 December 1899, the time as the fraction.
struct DateTime {
    double serial = 0.0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// What one cell holds; std::monostate is the empty cell.
using CellValue = std::variant<std::monostate, double, std::u16string, bool, DateTime>;

// A look at a stored cell without copying its text; valid until the sheet changes.
using CellValueView = std::variant<std::monostate, double, std::u16string_view, bool, DateTime>;

}  // namespace varne::workbook
