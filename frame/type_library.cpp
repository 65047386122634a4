#include "frame/type_library.h"

#include <algorithm>
#include <cstdio>

namespace varne {

namespace {

// "{XXXXXXXX-...}" without the braces, as the definition language writes identifiers.
std::string uuid(const Guid& id)
{
    std::string text = id.to_string();
    return text.substr(1, text.size() - 2);
}

std::string idl_type(const TypeDescriptor& type)
{
    return type_name(type, &ValueTypeNames::idl);
}

std::string quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (char c : to_utf8(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string default_value(const Variant& value)
{
    static constexpr LiteralSyntax kIdl{quoted, "-1", "0", "0"};
    return literal(value, kIdl);
}

std::string parameter(const ParamDescriptor& param)
{
    bool by_value = passed_by_value(param);
    std::string attributes = "[in";
    if (param.default_value)
        attributes += ", optional, defaultvalue(" + default_value(*param.default_value) + ")";
    return attributes + "] " + idl_type(param.type) + (by_value ? " " : "* ") + to_utf8(param.name);
}

void append_interface(std::string& out, const ClassDescriptor& cls)
{
    out += "    [\n        uuid(" + uuid(cls.interface_id) +
           "),\n        hidden,\n        dual,\n        nonextensible,\n        oleautomation\n    ]\n";
    out += "    interface " + to_utf8(cls.interface_name) + " : IDispatch\n    {\n";
    int dispatch_id = 1;
    for (const auto& member : cls.members) {
        std::vector<std::string> params;
        for (const auto& param : member.params)
            params.push_back(parameter(param));
        if (member.result.kind != ValueType::None)
            params.push_back("[out, retval] " + idl_type(member.result) + "* Result");
        std::string line = "        [id(" + std::to_string(dispatch_id++) + ")] HRESULT " + to_utf8(member.name) + "(";
        for (size_t i = 0; i < params.size(); ++i)
            line += (i ? ", " : "") + params[i];
        out += line + ");\n";
    }
    out += "    };\n\n";
}

}  // namespace

bool passed_by_value(const ParamDescriptor& param)
{
    return param.default_value && param.default_value->type() == VarType::String;
}

size_t dual_interface_arguments(const MemberDescriptor& member)
{
    return member.params.size() + (member.result.kind == ValueType::None ? 0 : 1);
}

DualInterfaceExtent dual_interface_extent(const LibraryDescriptor& library)
{
    DualInterfaceExtent extent;
    for (const auto& cls : library.classes) {
        extent.members = std::max(extent.members, cls.members.size());
        for (const auto& member : cls.members)
            extent.arguments = std::max(extent.arguments, dual_interface_arguments(member));
    }
    return extent;
}

std::string dual_interface_extent_header(const LibraryDescriptor& library)
{
    const DualInterfaceExtent extent = dual_interface_extent(library);
    return "// Made from the library's descriptor table by varne_idl.\n#pragma once\n\n#include <cstddef>\n\n"
           "namespace varne::com {\n\ninline constexpr std::size_t kDualInterfaceMembers = " +
           std::to_string(extent.members) +
           ";\ninline constexpr std::size_t kDualInterfaceArguments = " + std::to_string(extent.arguments) +
           ";\n\n}  // namespace varne::com\n";
}

std::string type_library_idl(const LibraryDescriptor& library)
{
    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%X", library.locale);
    std::string out = "// Made from the library's descriptor table by varne_idl.\n\nimport \"oaidl.idl\";\n\n";
    out += "[\n    uuid(" + uuid(library.type_library_id) + "),\n    version(" + std::to_string(library.major_version) +
           "." + std::to_string(library.minor_version) + "),\n    lcid(" + locale + "),\n    helpstring(" +
           quoted(library.description) + ")\n]\n";
    out += "library " + to_utf8(library.name) + "\n{\n    importlib(\"stdole2.tlb\");\n\n";
    for (const auto& enumeration : library.enums) {
        out += "    typedef enum " + to_utf8(enumeration.name) + " {\n";
        for (size_t i = 0; i < enumeration.members.size(); ++i) {
            const auto& [name, value] = enumeration.members[i];
            out += "        " + to_utf8(name) + " = " + std::to_string(value) +
                   (i + 1 < enumeration.members.size() ? ",\n" : "\n");
        }
        out += "    } " + to_utf8(enumeration.name) + ";\n\n";
    }
    for (const auto& cls : library.classes)
        append_interface(out, cls);
    for (const auto& cls : library.classes) {
        out += "    [\n        uuid(" + uuid(cls.class_id) + ")\n    ]\n";
        out += "    coclass " + to_utf8(cls.name) + "\n    {\n        [default] interface " +
               to_utf8(cls.interface_name) + ";\n    };\n\n";
    }
    out.pop_back();
    return out + "};\n";
}

}  // namespace varne
