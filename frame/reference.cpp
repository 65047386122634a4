#include "frame/reference.h"

#include "frame/descriptions.h"
#include "frame/text.h"

namespace varne {

namespace {

std::string type_phrase(const TypeDescriptor& type)
{
    return type_name(type, &ValueTypeNames::reference);
}

// "3 = brwInnerText" for an enumeration's default, the literal otherwise.
std::string default_phrase(const ParamDescriptor& param)
{
    std::string literal = python_literal(*param.default_value);
    if (param.type.kind != ValueType::Enum)
        return literal;
    for (const auto& enumeration : library_descriptor().enums) {
        if (to_utf8(enumeration.name) != param.type.name)
            continue;
        for (const auto& [name, value] : enumeration.members) {
            if (Variant(value) == *param.default_value)
                return literal + " = " + to_utf8(name);
        }
    }
    return literal;
}

std::string python_parameters(const MemberDescriptor& member, bool annotated)
{
    std::string text = annotated ? "self" : "";
    for (const auto& param : member.params) {
        if (!text.empty())
            text += ", ";
        text += to_utf8(param.name);
        if (annotated)
            text += ": " + python_type(param.type);
        if (param.default_value)
            text += (annotated ? " = " : "=") + python_literal(*param.default_value);
    }
    return text;
}

std::string indent(const std::string& text, const std::string& prefix)
{
    std::string result;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        result += line.empty() ? "\n" : prefix + line + "\n";
        start = end + 1;
    }
    return result;
}

std::string python_docstring_literal(const std::string& text, const std::string& prefix)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    return prefix + "\"\"\"" + indent(escaped, prefix).substr(prefix.size()) + prefix + "\"\"\"\n";
}

constexpr std::string_view kAdditionNote = "This library's own addition, beside the old object model.";

const MemberDescription& description_of(const ClassDescriptor& cls, const MemberDescriptor& member)
{
    static const MemberDescription kNone{};
    const auto* found = find_member_description(cls.name, member.name);
    return found ? *found : kNone;
}

// " (type, optional, default ...): description", as both the stub and the README follow a
// parameter's name with it.
std::string parameter_summary(const ParamDescriptor& param, const MemberDescription& description)
{
    std::string text = " (" + type_phrase(param.type);
    if (param.default_value)
        text += ", optional, default " + default_phrase(param);
    return text + "): " + std::string(find_param_description(description, param.name));
}

}  // namespace

std::string python_literal(const Variant& value)
{
    static constexpr LiteralSyntax kPython{[](std::u16string_view text) { return "'" + to_utf8(text) + "'"; }, "True",
                                           "False", "None"};
    return literal(value, kPython);
}

std::string python_type(const TypeDescriptor& type)
{
    return type_name(type, &ValueTypeNames::python);
}

std::string class_docstring(const ClassDescriptor& cls)
{
    const auto* description = find_class_description(cls.name);
    std::string text = description ? std::string(description->summary) : std::string();
    text += "\n\nCreated by CreateObject(\"" + to_utf8(cls.prog_id) + "\").";
    return text;
}

std::string member_docstring(const ClassDescriptor& cls, const MemberDescriptor& member)
{
    const MemberDescription& description = description_of(cls, member);
    std::string text(description.summary);
    if (description.addition)
        text += "\n\n" + std::string(kAdditionNote);
    if (!member.params.empty()) {
        text += "\n\nParameters:";
        for (const auto& param : member.params) {
            text += "\n    " + to_utf8(param.name) + parameter_summary(param, description);
        }
    }
    if (member.result.kind != ValueType::None) {
        const bool named_object = member.result.kind == ValueType::Object;
        text += "\n\nReturns " + std::string(named_object ? "an object of " : "a ") + type_phrase(member.result);
        if (!description.result.empty())
            text += ": " + std::string(description.result);
        for (const auto& code : description.codes)
            text += "\n    " + std::string(code.value) + ": " + std::string(code.meaning);
    }
    text += "\n\nFailures the member does not answer with a code raise AutomationError.";
    return text;
}

std::string python_stub()
{
    const auto& library = library_descriptor();
    std::string text = "# The interface of the module varne, made from the library's descriptor table.\n";
    text += python_docstring_literal(to_utf8(library.description), "");
    text += "from typing import Any, Iterator, Literal, overload\n\n";
    text += "__version__: str\n\n";
    for (const auto& enumeration : library.enums) {
        for (const auto& member : enumeration.members)
            text += to_utf8(member.first) + ": int  # " + to_utf8(enumeration.name) + "\n";
    }
    text += R"py(
class AutomationError(Exception):
    """A failure reported by the library: an error number and its description."""
    number: int
    description: str
    def __init__(self, number: int, description: str) -> None: ...

class Object:
    """An object of the browser's or the spreadsheet's object model: read, write or call any
    of its properties and methods by name. Collections are sequences (len, iteration, [i])."""
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __call__(self, *args: Any) -> Any: ...
    def __getitem__(self, index: Any) -> Any: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Any]: ...
)py";
    for (const auto& cls : library.classes) {
        text += "\nclass " + to_utf8(cls.name) + "(Object):\n";
        text += python_docstring_literal(class_docstring(cls), "    ");
        for (const auto& member : cls.members) {
            text += "    def " + to_utf8(member.name) + "(" + python_parameters(member, true) + ") -> " +
                    python_type(member.result) + ":\n";
            text += python_docstring_literal(member_docstring(cls, member), "        ");
        }
    }
    text += "\n";
    for (const auto& cls : library.classes) {
        text += "@overload\ndef CreateObject(ProgID: Literal[\"" + to_utf8(cls.prog_id) + "\"]) -> " +
                to_utf8(cls.name) + ": ...\n";
    }
    text += "@overload\ndef CreateObject(ProgID: str) -> Object:\n";
    text +=
        "    \"\"\"Creates an object of the library by its programmatic identifier, such as 'Varne.Timing'.\"\"\"\n";
    return text;
}

std::string markdown_reference()
{
    const auto& library = library_descriptor();
    std::string text =
        "Every member is called by name with positional or keyword arguments; optional parameters left out "
        "take the default shown. The same texts are the Python docstrings (`help(varne.Browser.ClickLink)`).\n";
    for (const auto& cls : library.classes) {
        const auto* description = find_class_description(cls.name);
        text += "\n### " + to_utf8(cls.name) + "\n\n";
        if (description)
            text +=
                std::string(description->summary) + " Created by `CreateObject(\"" + to_utf8(cls.prog_id) + "\")`.\n";
        for (const auto& member : cls.members) {
            const MemberDescription& about = description_of(cls, member);
            text += "\n#### " + to_utf8(cls.name) + "." + to_utf8(member.name) + "\n\n";
            text += "`" + to_utf8(member.name) + "(" + python_parameters(member, false) + ")`";
            if (member.result.kind != ValueType::None)
                text += " → " + type_phrase(member.result);
            text += "\n\n" + std::string(about.summary) + "\n";
            if (about.addition)
                text += "\n*" + std::string(kAdditionNote) + "*\n";
            if (!member.params.empty()) {
                text += "\n";
                for (const auto& param : member.params) {
                    text += "- `" + to_utf8(param.name) + "`" + parameter_summary(param, about) + "\n";
                }
            }
            if (!about.result.empty())
                text += "\nReturns " + std::string(about.result) + ".\n";
            if (!about.codes.empty()) {
                text += "\n| Result | Meaning |\n|---|---|\n";
                for (const auto& code : about.codes)
                    text += "| " + std::string(code.value) + " | " + std::string(code.meaning) + " |\n";
            }
        }
    }
    text += "\n### Enumerations\n\n| Enumeration | Member | Value |\n|---|---|---|\n";
    for (const auto& enumeration : library.enums) {
        for (const auto& [name, value] : enumeration.members)
            text +=
                "| `" + to_utf8(enumeration.name) + "` | `" + to_utf8(name) + "` | " + std::to_string(value) + " |\n";
    }
    text += "\n### Additions of this library\n\nBeside the old object model, on objects that the library hands out:\n";
    for (const auto& addition : addition_descriptions()) {
        const auto& member = addition.member;
        std::string params;
        for (const auto& param : member.params)
            params += (params.empty() ? "" : ", ") + to_utf8(param.name);
        text += "\n#### " + to_utf8(member.name) + "\n\n`" + to_utf8(member.name) + "(" + params + ")` on " +
                std::string(addition.object) + "\n\n" + std::string(member.summary) + "\n\n";
        for (const auto& param : member.params)
            text += "- `" + to_utf8(param.name) + "` (string): " + std::string(param.text) + "\n";
    }
    return text;
}

}  // namespace varne
