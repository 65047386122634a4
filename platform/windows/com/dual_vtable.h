#pragma once

#include "frame/descriptor.h"

namespace varne::com {

// The function table of a class's dual interface, for a ComObject: IDispatch's seven functions,
// then one per member in interface order, each taking a pointer per parameter (a string with a
// default by value, as the type library declares it) and then the result's pointer.
const void* const* dual_vtable(const ClassDescriptor& cls);

}  // namespace varne::com
