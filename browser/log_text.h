#pragma once

#include <cstdint>
#include <string_view>

#include "frame/text.h"

namespace varne {

// The text as one line of a log: every character that could end or hide a line is written
// visibly. CR, LF and TAB become \r, \n and \t; the other C0 controls and DEL become \xHH; the C1
// controls and the line and paragraph separators become \uHHHH (hexadecimal digits in upper
// case). A backslash is doubled where it stands before one of the letters r, n, t, x, u, before
// a backslash or before a character written so; everywhere else it stays single, so that
// addresses and paths with backslashes read as given.
BStr log_line_text(std::u16string_view text);

// The pieces of the members' log texts: a text between double-quote characters, and a number in
// decimal digits without spaces.
BStr quoted(const BStr& text);
BStr decimal(int32_t value);

}  // namespace varne
