#pragma once

#include <oaidl.h>

#include "frame/descriptor.h"

namespace varne::com {

// Hands a library object to a COM client: one COM object per library object at a time, so a
// client that gets the same object twice sees one identity. Its IDispatch runs the library's
// late binding; a library class also answers its dual interface through the function table in
// interface order. Returns a new reference (null for null).
IDispatch* wrap(const Ref<Dispatch>& object);
// The library object behind one of our COM objects; null for a foreign object.
Ref<Dispatch> unwrap(IUnknown* object);

// Converts a client's argument (by-reference variants dereferenced) to the library's variant.
Variant from_com(const VARIANT& value);
// Fills a client's variant; the declared result type picks the 16-bit boolean.
void to_com(const Variant& value, const TypeDescriptor* declared, VARIANT* out);

// Reports the exception being handled to the client: the thread's error object and, when given,
// the EXCEPINFO, with scode 0x800A0000 | number for the scripting runtime's numbers. Returns the
// HRESULT to hand back (DISP_E_EXCEPTION when an EXCEPINFO was filled).
HRESULT report_failure(const ClassDescriptor* cls, EXCEPINFO* info) noexcept;

// The HRESULT that stands for an error number.
HRESULT error_result(int32_t number) noexcept;

}  // namespace varne::com
