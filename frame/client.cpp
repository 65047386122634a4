#include "frame/client.h"

#include "frame/automation_error.h"
#include "frame/late_binding.h"

namespace varne {

namespace {

Dispatch& require(const Ref<Dispatch>& object, std::u16string_view name)
{
    if (!object)
        throw AutomationError(error_number::kObjectRequired, "Object required: " + to_utf8(name));
    return *object;
}

}  // namespace

Ref<Dispatch> get_object(const Ref<Dispatch>& object, std::u16string_view property)
{
    return to_object(get_property(require(object, property), property));
}

BStr get_text(const Ref<Dispatch>& object, std::u16string_view property)
{
    return to_bstr(get_property(require(object, property), property));
}

void put_property(const Ref<Dispatch>& object, std::u16string_view property, const Variant& value)
{
    put_property(require(object, property), property, value);
}

Variant call(const Ref<Dispatch>& object, std::u16string_view method, std::initializer_list<Variant> args)
{
    return invoke(require(object, method), method, std::span(args.begin(), args.size()));
}

Ref<Dispatch> get_item(const Ref<Dispatch>& collection, const Variant& key)
{
    const Variant args[] = {key};
    return to_object(call_default(require(collection, u"item"), args));
}

std::string_view library_version() noexcept
{
    return VARNE_LIBRARY_VERSION;
}

}  // namespace varne
