#include "frame/late_binding.h"

#include <vector>

#include "frame/automation_error.h"

namespace varne {

namespace {

Variant invoke_member(Dispatch& target, const MemberDescriptor& member, std::span<const Variant> args,
                      std::span<const NamedArgument> named)
{
    const auto& params = member.params;
    if (args.size() > params.size())
        throw AutomationError(error_number::kWrongArgumentCount,
                              "Wrong number of arguments or invalid property assignment: " + to_utf8(member.name));
    std::vector<std::optional<Variant>> given(params.size());
    for (size_t i = 0; i < args.size(); ++i)
        given[i] = args[i];
    for (const auto& argument : named) {
        size_t index = 0;
        while (index < params.size() && !equals_ignoring_case(params[index].name, argument.name))
            ++index;
        if (index == params.size())
            throw AutomationError(error_number::kNamedArgumentNotFound,
                                  "Named argument not found: " + to_utf8(argument.name));
        if (given[index])
            throw AutomationError(error_number::kWrongArgumentCount, "Argument given twice: " + to_utf8(argument.name));
        given[index] = argument.value;
    }
    std::vector<Variant> converted;
    converted.reserve(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (given[i]) {
            converted.push_back(coerce(*given[i], params[i].type));
        } else if (params[i].default_value) {
            converted.push_back(*params[i].default_value);
        } else {
            throw AutomationError(error_number::kArgumentNotOptional,
                                  "Argument not optional: " + to_utf8(params[i].name) + " of " + to_utf8(member.name));
        }
    }
    return member.thunk(target, converted);
}

}  // namespace

const MemberDescriptor* find_member(const ClassDescriptor& cls, std::u16string_view name)
{
    for (const auto& member : cls.members) {
        if (equals_ignoring_case(member.name, name))
            return &member;
    }
    return nullptr;
}

Variant coerce(const Variant& value, const TypeDescriptor& type)
{
    switch (type.kind) {
    case ValueType::I2:
        return to_i2(value);
    case ValueType::I4:
    case ValueType::Enum:
        return to_i4(value);
    case ValueType::Bool:
        return to_bool(value);
    case ValueType::String:
        return to_bstr(value);
    case ValueType::Object:
        return to_object(value);
    case ValueType::Variant:
    case ValueType::None:
        break;
    }
    return value;
}

Variant invoke(Dispatch& target, std::u16string_view member, std::span<const Variant> args,
               std::span<const NamedArgument> named)
{
    target.check_apartment();
    if (const auto* cls = target.class_descriptor()) {
        const auto* found = find_member(*cls, member);
        if (!found)
            throw_not_supported(member);
        return invoke_member(target, *found, args, named);
    }
    if (!named.empty())
        throw AutomationError(error_number::kNamedArgumentNotFound,
                              "Named arguments are not supported by " + to_utf8(member));
    return target.call_method(member, args);
}

Variant invoke(Dispatch& target, int32_t dispatch_id, std::span<const Variant> args,
               std::span<const NamedArgument> named)
{
    target.check_apartment();
    const auto* cls = target.class_descriptor();
    if (!cls || dispatch_id < 1 || static_cast<size_t>(dispatch_id) > cls->members.size())
        throw AutomationError(error_number::kNotSupported,
                              "Object doesn't support this property or method: dispatch id " +
                                  std::to_string(dispatch_id));
    return invoke_member(target, cls->members[static_cast<size_t>(dispatch_id) - 1], args, named);
}

Variant get_property(Dispatch& target, std::u16string_view name)
{
    target.check_apartment();
    // Every member of a library class is a method; reading one without arguments calls it.
    if (target.class_descriptor())
        return invoke(target, name);
    return target.get_property(name);
}

void put_property(Dispatch& target, std::u16string_view name, const Variant& value)
{
    target.check_apartment();
    target.put_property(name, value);
}

Variant call_default(Dispatch& target, std::span<const Variant> args)
{
    target.check_apartment();
    return target.call_default(args);
}

Ref<Dispatch> create_object(std::u16string_view prog_id)
{
    const auto* cls = find_class(prog_id);
    if (!cls)
        throw AutomationError(error_number::kCannotCreateObject,
                              "ActiveX component can't create object: " + to_utf8(prog_id));
    return cls->create();
}

}  // namespace varne
