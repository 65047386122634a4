#pragma once

#include <span>
#include <string_view>

#include "frame/descriptor.h"

namespace varne {

struct NamedArgument {
    std::u16string_view name;
    Variant value;
};

// Late binding: calls a member of any object by name, case-insensitively for the library's
// classes. Its errors name the member and the argument, what was expected and what came. Positional arguments come
// first, then named ones; optional parameters left out take their defaults; every argument is converted to its declared
// type. Fails with an AutomationError (438 unknown member, 448 unknown named argument, 449 a required argument left
// out, 450 too many arguments, 6 overflow, 13 type mismatch, or the member's own).
Variant invoke(Dispatch& target, std::u16string_view member, std::span<const Variant> args = {},
               std::span<const NamedArgument> named = {});
// The same, by the member's position in its interface (dispatch id, from 1).
Variant invoke(Dispatch& target, int32_t dispatch_id, std::span<const Variant> args = {},
               std::span<const NamedArgument> named = {});

Variant get_property(Dispatch& target, std::u16string_view name);
void put_property(Dispatch& target, std::u16string_view name, const Variant& value);
Variant call_default(Dispatch& target, std::span<const Variant> args);

const MemberDescriptor* find_member(const ClassDescriptor& cls, std::u16string_view name);
// The member of that name; fails with error 438 naming the class and the nearest member's name.
const MemberDescriptor& require_member(const ClassDescriptor& cls, std::u16string_view name);

// Creates an object by programmatic identifier ("Varne.Timing"), class name or class id text.
Ref<Dispatch> create_object(std::u16string_view prog_id);

// Converts one argument to a declared type (the rule shared by every late-bound call).
Variant coerce(const Variant& value, const TypeDescriptor& type);

}  // namespace varne
