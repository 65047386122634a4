#include "page/load_failure_list.h"

#include <string>

#include "frame/automation_error.h"
#include "page/list_members.h"

namespace varne::page {

Variant LoadFailureList::item_at(int32_t index)
{
    if (index < 0 || index >= item_count())
        throw AutomationError(error_number::kSubscriptOutOfRange, "Subscript out of range: failed load " +
                                                                      std::to_string(index) + " of " +
                                                                      std::to_string(m_failures.size()));
    return Ref<Dispatch>(make_object<LoadFailureItem>(m_failures[static_cast<size_t>(index)]));
}

Variant LoadFailureList::get_property(std::u16string_view name)
{
    if (auto member = list_member(*this, name))
        return *member;
    throw_not_supported(name);
}

Variant LoadFailureList::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"item"))
        return call_default(args);
    if (args.empty())
        return get_property(name);
    throw_not_supported(name);
}

Variant LoadFailureList::call_default(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "Wrong number of arguments: item takes a position");
    return item_at(to_i4(args[0]));
}

Variant LoadFailureItem::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"URL"))
        return m_failure.url;
    if (equals_ignoring_case(name, u"Reason"))
        return m_failure.reason;
    throw_not_supported(name);
}

Variant LoadFailureItem::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (!args.empty())
        throw_not_supported(name);
    return get_property(name);
}

}  // namespace varne::page
