#pragma once

#include <string>
#include <string_view>

namespace varne {

// Automation strings: UTF-16 code units, as scripts count lengths, cuts and positions.
using BStr = std::u16string;

// UTF-8 to UTF-16. Each byte that is not part of a well-formed sequence becomes the lone
// surrogate U+DC80 to U+DCFF (U+DC00 plus the byte), so that no byte is lost.
BStr from_utf8(std::string_view text);
// UTF-16 to UTF-8. A lone U+DC80 to U+DCFF is written as the byte it stands for, so that
// to_utf8(from_utf8(bytes)) == bytes for any bytes; every other lone surrogate becomes '?',
// never dropped or cut short.
std::string to_utf8(std::u16string_view text);
// Appends one code point, as a surrogate pair beyond the Basic Multilingual Plane.
void append_utf16(BStr& out, char32_t code_point);

// Upper case by Unicode's simple mappings within the Basic Multilingual Plane, independent of
// the locale; lengths and positions stay as they were.
BStr to_upper(std::u16string_view text);
bool equals_ignoring_case(std::u16string_view a, std::u16string_view b);

// Leading and trailing U+0020 removed; tabs, line breaks and no-break spaces stay.
std::u16string_view trim_spaces(std::u16string_view text);

}  // namespace varne
