#pragma once

#include <oaidl.h>

#include "frame/descriptor.h"

namespace varne::com {

// Converts a client's argument (by-reference variants dereferenced) to the library's variant.
Variant from_com(const VARIANT& value);
// Fills a client's variant; the declared result type picks the 16-bit boolean. A null object
// reference becomes Nothing (VT_DISPATCH holding null), Null stays VT_NULL.
void to_com(const Variant& value, const TypeDescriptor* declared, VARIANT* out);

}  // namespace varne::com
