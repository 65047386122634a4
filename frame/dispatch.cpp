#include "frame/dispatch.h"

#include "frame/automation_error.h"

namespace varne {

void throw_not_supported(std::u16string_view name)
{
    throw AutomationError(error_number::kNotSupported,
                          "Object doesn't support this property or method: " + to_utf8(name));
}

Variant Dispatch::get_property(std::u16string_view name)
{
    throw_not_supported(name);
}

void Dispatch::put_property(std::u16string_view name, const Variant&)
{
    throw_not_supported(name);
}

Variant Dispatch::call_method(std::u16string_view name, std::span<const Variant>)
{
    throw_not_supported(name);
}

Variant Dispatch::call_default(std::span<const Variant>)
{
    throw_not_supported(u"(default member)");
}

}  // namespace varne
