#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/dispatch.h"

namespace varne {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    std::array<uint8_t, 8> data4;

    friend bool operator==(const Guid&, const Guid&) = default;
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as registries write it.
    std::string to_string() const;
};

// The automation types that cross the boundary.
enum class ValueType { None, I2, I4, Bool, String, Variant, Object, Enum };

struct TypeDescriptor {
    ValueType kind = ValueType::None;
    std::string_view name;  // the interface of an object, the enumeration of an enum
};

// How each description of the library writes a type. An empty entry stands for the type's own
// name (the enumeration's, the interface's).
struct ValueTypeNames {
    std::string_view reference;  // the README's reference: "16-bit integer"
    std::string_view python;  // the Python stub: "int"
    std::string_view idl;  // the type library's description: "short"
    std::string_view expected;  // what an argument of another type is told it should be
};

const ValueTypeNames& names_of(ValueType kind);
// The type as one description writes it, e.g. type_name(type, &ValueTypeNames::idl).
std::string type_name(const TypeDescriptor& type, std::string_view ValueTypeNames::*description);

// How a description writes a parameter's default: integers in decimal, strings through `quoted`,
// booleans by its own words, and `other` for a value of any other type.
struct LiteralSyntax {
    std::string (*quoted)(std::u16string_view text);
    std::string_view true_text;
    std::string_view false_text;
    std::string_view other;
};

std::string literal(const Variant& value, const LiteralSyntax& syntax);

struct ParamDescriptor {
    std::u16string_view name;
    TypeDescriptor type;
    std::optional<Variant> default_value;  // set for optional parameters
};

// Runs a member on an object, with every argument already of its declared type.
using MemberThunk = Variant (*)(Dispatch& self, std::span<const Variant> args);

struct MemberDescriptor {
    std::u16string_view name;
    std::vector<ParamDescriptor> params;
    TypeDescriptor result;
    MemberThunk thunk;
};

struct ClassDescriptor {
    std::u16string_view name;
    std::u16string_view interface_name;
    std::u16string_view prog_id;
    // Both identifiers are in the registries and the compiled clients of every installed copy:
    // they never change, whatever else of the class does.
    Guid class_id;
    Guid interface_id;
    std::vector<MemberDescriptor> members;  // in interface order; dispatch ids count from 1

    // Builds an object of the class through its registered creation step and hands out its first
    // reference; raises "can't create object" (429) while no step is registered.
    Ref<Dispatch> create() const;
};

// How an object of one class is made, with the ports it is given.
using CreationStep = std::function<Ref<Dispatch>()>;

struct EnumDescriptor {
    std::u16string_view name;
    std::vector<std::pair<std::u16string_view, int32_t>> members;
};

struct LibraryDescriptor {
    std::u16string_view name;
    Guid type_library_id;
    uint16_t major_version;
    uint16_t minor_version;
    uint32_t locale;
    std::u16string_view description;
    std::u16string_view threading_model;
    std::vector<ClassDescriptor> classes;
    std::vector<EnumDescriptor> enums;
};

// The library's one descriptor table.
const LibraryDescriptor& library_descriptor();

const ClassDescriptor* find_class(const Guid& class_id);
const ClassDescriptor* find_class(std::u16string_view prog_id);

// Gives the class named `class_name` its creation step, in place of any before it. The library's
// composition root registers every class's step when the library is loaded.
void register_creation_step(std::u16string_view class_name, CreationStep step);

}  // namespace varne
