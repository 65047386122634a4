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

}  // namespace varne
