#pragma once

#include <oaidl.h>

#include <atomic>

#include "frame/descriptor.h"

namespace varne::com {

// One COM object: the first word is the interface's function table (IDispatch, or the class's
// dual interface), the second that of ISupportErrorInfo. The functions of both tables take the
// object itself as `this`.
struct ComObject {
    const void* const* vtable;
    const void* const* error_vtable;
    std::atomic<ULONG> references;
    Ref<Dispatch> target;
    const ClassDescriptor* cls;
};

// Hands a library object to a COM client: one COM object per library object at a time, so a
// client that gets the same object twice sees one identity. Its IDispatch runs the library's
// late binding; a library class also answers its dual interface through the function table in
// interface order. Returns a new reference (null for null).
IDispatch* wrap(const Ref<Dispatch>& object);
// The library object behind one of our COM objects; null for a foreign object.
Ref<Dispatch> unwrap(IUnknown* object);

// IUnknown, the head of every function table of a ComObject.
HRESULT STDMETHODCALLTYPE query_interface(ComObject* self, REFIID iid, void** out);
ULONG STDMETHODCALLTYPE add_ref(ComObject* self);
ULONG STDMETHODCALLTYPE release(ComObject* self);

}  // namespace varne::com
