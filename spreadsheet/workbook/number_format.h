#pragma once

#include "spreadsheet/workbook/cell_value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varne::workbook {

// The number of a format that readers know without a FORMAT record ("0.00" is 2, "h:mm:ss"
// 21); nothing for a format that the file must spell out.
std::optional<uint16_t> builtin_format_id(std::u16string_view format);

// About the text a cell shows under a format, long enough to size its column: the value
// itself for texts, numbers and booleans; for date-times and formatted numbers the format's
// picture with its widest names ("September", "Wednesday").
std::u16string displayed_text(const CellValueView& value, std::u16string_view format);

// The width of a text in the standard font (Arial 10, which LibreOffice shows with its
// metric twin Liberation Sans), in widths of a digit, as column widths are counted.
double text_width(std::u16string_view text);

}  // namespace varne::workbook
