#include "platform/windows/com/typed_page_null.h"

#include <algorithm>

#include "frame/text.h"

namespace varne::com {

namespace {

// The members of the document object model that give an element, a node, a document or a window,
// or nothing when there is none.
constexpr std::u16string_view kObjectMembers[] = {
    u"",
    u"activeElement",
    u"assignedSlot",
    u"body",
    u"caption",
    u"closest",
    u"contentDocument",
    u"contentWindow",
    u"control",
    u"currentScript",
    u"defaultView",
    u"doctype",
    u"documentElement",
    u"elementFromPoint",
    u"firstChild",
    u"firstElementChild",
    u"form",
    u"frameElement",
    u"getAttributeNode",
    u"getAttributeNodeNS",
    u"getElementById",
    u"head",
    u"item",
    u"lastChild",
    u"lastElementChild",
    u"list",
    u"namedItem",
    u"nextElementSibling",
    u"nextSibling",
    u"offsetParent",
    u"opener",
    u"ownerDocument",
    u"parentElement",
    u"parentNode",
    u"previousElementSibling",
    u"previousSibling",
    u"querySelector",
    u"scrollingElement",
    u"shadowRoot",
    u"tFoot",
    u"tHead",
};

bool gives_object(std::u16string_view member)
{
    return std::ranges::any_of(kObjectMembers,
                               [&](std::u16string_view name) { return equals_ignoring_case(name, member); });
}

}  // namespace

Variant typed_page_null(std::u16string_view member, Variant value)
{
    if (value.type() == VarType::Null && gives_object(member))
        return Ref<Dispatch>();
    return value;
}

}  // namespace varne::com
