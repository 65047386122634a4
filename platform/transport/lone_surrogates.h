#pragma once

#include <string>

// Page strings are UTF-16 and may hold lone surrogates, which a browser writes as "\ud800" escapes
// in its JSON messages and a strict JSON reader refuses. A protocol session turns each message into
// the reserved form of reserved_form.h before parsing it, and back before sending one.
namespace varne {

// For a message as the browser sent it, before it is parsed: each lone surrogate escape in the
// reserved form, each U+FDD0 doubled. Returns false, leaving the text alone, when there is none.
bool reserve_lone_surrogates(std::string& json);
// For a message about to be sent: each reserved surrogate back to its "\ud800" escape, each
// doubled U+FDD0 single again.
void escape_reserved_surrogates(std::string& json);

}  // namespace varne
