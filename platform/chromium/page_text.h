#pragma once

#include "frame/text.h"

#include <string>
#include <string_view>

// Page strings are UTF-16 and may hold lone surrogates, which the browser writes as "\ud800"
// escapes and a strict JSON reader refuses. Between the wire and the object model such a
// surrogate travels in a reserved form of valid UTF-8: the noncharacter U+FDD0 followed by
// U+E000 to U+E7FF for U+D800 to U+DFFF. A U+FDD0 of the page's own is doubled, so that the
// form is never ambiguous. Strings of parsed messages are in this form; page_text() and
// protocol_text() are the one way between it and automation strings.
namespace varne {

// For a message as the browser sent it, before it is parsed: each lone surrogate escape in the
// reserved form, each U+FDD0 doubled. Returns false, leaving the text alone, when there is none.
bool reserve_lone_surrogates(std::string& json);
// For a message about to be sent: each reserved surrogate back to its "\ud800" escape, each
// doubled U+FDD0 single again.
void escape_reserved_surrogates(std::string& json);

// A string of a parsed message, as the page's code units.
BStr page_text(std::string_view text);
// A string for the page, in the form the session sends as the page's code units.
std::string protocol_text(std::u16string_view text);

}  // namespace varne
