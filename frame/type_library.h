#pragma once

#include <string>

#include "frame/descriptor.h"

namespace varne {

// The type library's description in the interface definition language, made from the descriptor
// table: the library, the two enumerations, a dual interface per class with every member in
// interface order (dispatch ids from 1), and the five classes. The Windows build compiles it
// into the type library that the DLL carries.
std::string type_library_idl(const LibraryDescriptor& library);

// Every parameter is passed by reference, except one with a string default: the definition
// language compiler takes string defaults only on strings passed by value.
bool passed_by_value(const ParamDescriptor& param);

// The words that a member's function in its dual interface takes after `this`: one per parameter
// (a pointer, or a string passed by value, which is a pointer too) and one for the result's pointer.
size_t dual_interface_arguments(const MemberDescriptor& member);

// How large the dual interfaces' function tables are: the most members of a class, and the most
// words that one member's function takes.
struct DualInterfaceExtent {
    size_t members = 0;
    size_t arguments = 0;
};
DualInterfaceExtent dual_interface_extent(const LibraryDescriptor& library);

// A C++ header that gives the extent as the constants kDualInterfaceMembers and
// kDualInterfaceArguments, for the runtime that builds those function tables.
std::string dual_interface_extent_header(const LibraryDescriptor& library);

}  // namespace varne
