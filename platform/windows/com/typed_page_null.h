#pragma once

#include <string_view>

#include "frame/dispatch.h"

namespace varne::com {

// A page has one null; a COM client has two, and the old browser's document object model gave
// Nothing (a null object) where a member gives an object, so that `Set x = ...: If x Is Nothing`
// holds, and Null where it gives data (a missing attribute, a ColumnWidth of mixed widths). The
// member's name decides: those of the old model that give an object (getElementById, parentNode,
// a collection's item, ...) turn Null into a null object reference; every other value is kept.
// An empty name stands for an object's default member, which gives a collection's item.
Variant typed_page_null(std::u16string_view member, Variant value);

}  // namespace varne::com
