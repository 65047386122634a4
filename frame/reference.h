#pragma once

#include <string>

#include "frame/descriptor.h"

// Renders the descriptor table and its descriptions as reference texts: a member's
// docstring, the Python stub of the module and the README's reference section.
namespace varne {

std::string class_docstring(const ClassDescriptor& cls);
std::string member_docstring(const ClassDescriptor& cls, const MemberDescriptor& member);
// A parameter's default as a Python literal ("3", "''", "None").
std::string python_literal(const Variant& value);
// The Python type that a value of this type arrives as, or is given as ("int", "str", "Object").
std::string python_type(const TypeDescriptor& type);

std::string python_stub();
std::string markdown_reference();

}  // namespace varne
