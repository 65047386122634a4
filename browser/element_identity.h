#pragma once

#include <string_view>
#include <vector>

#include "dom/object_model.h"
#include "frame/interfaces.h"

namespace varne {

// Whether a text read from the page names what the caller gave: exactly, after trimming spaces.
bool text_matches(std::u16string_view property, const BStr& given);

// For every link of the document, in order, whether `text` identifies it: by its own text for
// brwInnerText, else by the alt (brwImgAlt) or file name (any other) of its first direct IMG child.
std::vector<bool> identify_links(dom::Document& document, const BStr& text, BrowserIdentType method);

}  // namespace varne
