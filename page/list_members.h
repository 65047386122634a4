#pragma once

#include <optional>
#include <string_view>

#include "frame/bound_method.h"
#include "frame/collection.h"
#include "frame/object.h"
#include "frame/text.h"

namespace varne::page {

// The members by name that every list of this model answers alike: `length`, and `item` read as a
// method to call. Nothing for any other name.
template <class List>
std::optional<Variant> list_member(List& list, std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return Variant(list.item_count());
    if (equals_ignoring_case(name, u"item"))
        return Variant(Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(&list), BStr(u"item"))));
    return std::nullopt;
}

}  // namespace varne::page
