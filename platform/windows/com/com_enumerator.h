#pragma once

#include <oaidl.h>

#include "frame/dispatch.h"

namespace varne::com {

// The IEnumVARIANT that VBScript's For Each and JScript's Enumerator walk over a collection:
// the library's Enumeration of it, each item handed out as IDispatch calls give it (objects as
// IDispatch, values as they are). Fails as the Enumeration does; returns a new reference.
IUnknown* new_enumerator(Dispatch& collection);

}  // namespace varne::com
