#include "frame/late_binding.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "frame/automation_error.h"

namespace varne {

namespace {

std::string qualified(const ClassDescriptor& cls, const MemberDescriptor& member)
{
    return to_utf8(cls.name) + "." + to_utf8(member.name);
}

// The object-model interfaces in a user's words.
std::string interface_phrase(std::string_view name)
{
    static constexpr std::pair<std::string_view, std::string_view> kPhrases[] = {
        {"IWebBrowser2", "the browser application"},
        {"HTMLDocument", "a document"},
        {"HTMLWindow2", "a window or frame"},
        {"HTMLFormElement", "a form element"},
        {"HTMLElement", "an element"},
        {"IHTMLElementCollection", "a collection of elements"},
        {"FramesCollection", "a collection of frames"},
        {"_Application", "the spreadsheet application"},
    };
    for (const auto& [interface, phrase] : kPhrases) {
        if (interface == name)
            return std::string(phrase);
    }
    return "an object of " + std::string(name);
}

std::string expected_phrase(const TypeDescriptor& type)
{
    if (type.kind == ValueType::Enum)
        return "a " + std::string(type.name) + " number";
    if (type.kind == ValueType::Object)
        return interface_phrase(type.name);
    return type_name(type, &ValueTypeNames::expected);
}

std::string object_phrase(const Dispatch* object)
{
    if (!object)
        return "nothing (a null reference)";
    if (const auto* cls = object->class_descriptor())
        return "a " + to_utf8(cls->prog_id) + " object";
    if (!object->interface_name().empty())
        return interface_phrase(object->interface_name());
    return "an object";
}

std::string value_phrase(const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
        return "nothing";
    case VarType::Null:
        return "Null";
    case VarType::I2:
    case VarType::I4:
        return to_utf8(to_bstr(value));
    case VarType::R8:
        if (std::isnan(value.r8()))
            return "NaN";
        return std::isinf(value.r8()) ? "a number too large to hold" : to_utf8(to_bstr(value));
    case VarType::Bool:
        return value.boolean() ? "True" : "False";
    case VarType::String: {
        std::string text = to_utf8(value.string());
        if (text.size() > 40)
            text = text.substr(0, 37) + "...";
        return "the string '" + text + "'";
    }
    case VarType::Date:
        return "the date " + to_utf8(to_bstr(value));
    case VarType::Object:
        return object_phrase(value.object().get());
    }
    return "a value";
}

// What to take instead, for the mix-ups that scripts make most.
std::string hint(std::string_view expected, std::string_view got)
{
    if (expected == "HTMLDocument" && got == "IWebBrowser2")
        return " (use GetBrowser().Document)";
    if (expected == "HTMLDocument" && got == "HTMLWindow2")
        return " (use the window's document)";
    if (expected == "HTMLWindow2" && got == "HTMLDocument")
        return " (use document.frames.item(n) for a frame)";
    if (expected == "HTMLFormElement" && got == "HTMLDocument")
        return " (use document.forms.item(browser.FormExists(document, name)))";
    return {};
}

bool accepts(std::string_view expected, std::string_view got)
{
    return expected == got || (expected == "HTMLFormElement" && got == "HTMLElement");
}

[[noreturn]] void throw_argument_error(const AutomationError& error, const std::string& where,
                                       const ParamDescriptor& param, const Variant& value)
{
    std::string text = where + ": " + to_utf8(param.name) + ": expected " + expected_phrase(param.type) + ", got " +
                       value_phrase(value);
    if (error.number() == error_number::kOverflow)
        text += " (overflow)";
    throw AutomationError(error.number(), text);
}

Variant checked_coerce(const Variant& value, const TypeDescriptor& type)
{
    // A number too large to hold has no text that a string parameter could keep.
    if (type.kind == ValueType::String && value.type() == VarType::R8 && std::isinf(value.r8()))
        throw AutomationError::overflow();
    return coerce(value, type);
}

// A member that refused an object argument with the plain "Object required" or "Type mismatch"
// says which argument it was, when one of them is plainly the cause.
[[noreturn]] void rethrow_naming_object(const AutomationError& error, const std::string& where,
                                        const std::vector<ParamDescriptor>& params, std::span<const Variant> converted)
{
    const bool required = error.number() == error_number::kObjectRequired && error.description() == "Object required";
    const bool mismatch = error.number() == error_number::kTypeMismatch && error.description() == "Type mismatch";
    for (size_t i = 0; (required || mismatch) && i < params.size(); ++i) {
        if (params[i].type.kind != ValueType::Object)
            continue;
        const Dispatch* object = converted[i].object().get();
        const std::string_view got = object ? object->interface_name() : std::string_view();
        const bool wrong =
            object && (object->class_descriptor() || (!got.empty() && !accepts(params[i].type.name, got)));
        if ((required && !object) || (mismatch && wrong)) {
            throw AutomationError(error.number(), where + ": " + to_utf8(params[i].name) + ": expected " +
                                                      expected_phrase(params[i].type) + ", got " +
                                                      object_phrase(object) + hint(params[i].type.name, got));
        }
    }
    throw error;
}

size_t edit_distance(std::u16string_view a, std::u16string_view b)
{
    BStr upper_a = to_upper(a);
    BStr upper_b = to_upper(b);
    std::vector<size_t> row(upper_b.size() + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= upper_a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= upper_b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (upper_a[i - 1] == upper_b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

// " (did you mean X?)" for the one candidate near enough to be a slip of the keyboard.
template <class Names>
std::string suggestion(std::u16string_view name, const Names& candidates)
{
    std::u16string_view best;
    size_t best_distance = std::max<size_t>(2, name.size() / 3) + 1;
    for (std::u16string_view candidate : candidates) {
        size_t distance = edit_distance(name, candidate);
        if (distance < best_distance) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best.empty() ? std::string() : " (did you mean " + to_utf8(best) + "?)";
}

std::vector<std::u16string_view> param_names(const MemberDescriptor& member)
{
    std::vector<std::u16string_view> names;
    for (const auto& param : member.params)
        names.push_back(param.name);
    return names;
}

std::string joined(const std::vector<std::u16string_view>& names)
{
    std::string text;
    for (auto name : names)
        text += (text.empty() ? "" : ", ") + to_utf8(name);
    return text;
}

Variant invoke_member(Dispatch& target, const ClassDescriptor& cls, const MemberDescriptor& member,
                      std::span<const Variant> args, std::span<const NamedArgument> named)
{
    const auto& params = member.params;
    const std::string where = qualified(cls, member);
    if (args.size() > params.size())
        throw AutomationError(error_number::kWrongArgumentCount,
                              "Wrong number of arguments or invalid property assignment: " + where + " takes " +
                                  std::to_string(params.size()) + " (" + joined(param_names(member)) + "), got " +
                                  std::to_string(args.size()));
    std::vector<std::optional<Variant>> given(params.size());
    for (size_t i = 0; i < args.size(); ++i)
        given[i] = args[i];
    for (const auto& argument : named) {
        size_t index = 0;
        while (index < params.size() && !equals_ignoring_case(params[index].name, argument.name))
            ++index;
        if (index == params.size()) {
            std::string near = suggestion(argument.name, param_names(member));
            throw AutomationError(
                error_number::kNamedArgumentNotFound,
                "Named argument not found: " + to_utf8(argument.name) + " of " + where +
                    (near.empty() ? " (its parameters: " +
                                        (params.empty() ? std::string("none") : joined(param_names(member))) + ")"
                                  : near));
        }
        if (given[index])
            throw AutomationError(error_number::kWrongArgumentCount,
                                  "Argument given twice: " + to_utf8(argument.name) + " of " + where);
        given[index] = argument.value;
    }
    std::vector<Variant> converted;
    converted.reserve(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (given[i]) {
            try {
                converted.push_back(checked_coerce(*given[i], params[i].type));
            } catch (const AutomationError& error) {
                throw_argument_error(error, where, params[i], *given[i]);
            }
        } else if (params[i].default_value) {
            converted.push_back(*params[i].default_value);
        } else {
            throw AutomationError(error_number::kArgumentNotOptional,
                                  "Argument not optional: " + to_utf8(params[i].name) + " of " + where);
        }
    }
    try {
        return member.thunk(target, converted);
    } catch (const AutomationError& error) {
        rethrow_naming_object(error, where, params, converted);
    }
}

}  // namespace

const MemberDescriptor& require_member(const ClassDescriptor& cls, std::u16string_view name)
{
    if (const auto* found = find_member(cls, name))
        return *found;
    std::vector<std::u16string_view> names;
    for (const auto& member : cls.members)
        names.push_back(member.name);
    throw AutomationError(error_number::kNotSupported,
                          "Object doesn't support this property or method: " + to_utf8(cls.name) + "." + to_utf8(name) +
                              suggestion(name, names));
}

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
    if (const auto* cls = target.class_descriptor())
        return invoke_member(target, *cls, require_member(*cls, member), args, named);
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
    return invoke_member(target, *cls, cls->members[static_cast<size_t>(dispatch_id) - 1], args, named);
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
    if (!cls) {
        std::vector<std::u16string_view> names;
        for (const auto& known : library_descriptor().classes)
            names.push_back(known.prog_id);
        throw AutomationError(error_number::kCannotCreateObject, "ActiveX component can't create object: " +
                                                                     to_utf8(prog_id) + suggestion(prog_id, names));
    }
    return cls->create();
}

}  // namespace varne
