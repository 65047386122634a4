#pragma once

#include <cstddef>

namespace varne::com {

// The function table of IDispatch over the library's late binding (IUnknown's three functions,
// then IDispatch's four), for a ComObject. An object of the page's or the spreadsheet's object
// model answers through it alone; a library class's dual interface begins with it.
inline constexpr size_t kDispatchFunctionCount = 7;
extern const void* const kDispatchFunctions[kDispatchFunctionCount];

}  // namespace varne::com
