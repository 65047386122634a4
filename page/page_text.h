#pragma once

#include "frame/text.h"

#include <string>
#include <string_view>

// Page strings are UTF-16 and may hold lone surrogates. Between an engine and the page model such
// a surrogate travels in the reserved form of valid UTF-8 (platform/transport/reserved_form.h), so
// that a strict JSON reader takes it. Strings that a PageDelegate takes and gives are in this form;
// page_text() and protocol_text() are the one way between it and automation strings.
namespace varne::page {

// A string of a parsed message, as the page's code units.
BStr page_text(std::string_view text);
// A string for the page, in the form the session sends as the page's code units.
std::string protocol_text(std::u16string_view text);

}  // namespace varne::page
