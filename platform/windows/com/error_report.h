#pragma once

#include <oaidl.h>

#include <cstdint>

#include "frame/descriptor.h"

namespace varne::com {

// Reports the exception being handled to the client: the thread's error object and, when given,
// the EXCEPINFO, with scode 0x800A0000 | number for the scripting runtime's numbers. Returns the
// HRESULT to hand back (DISP_E_EXCEPTION when an EXCEPINFO was filled).
HRESULT report_failure(const ClassDescriptor* cls, EXCEPINFO* info) noexcept;

// Reports a creation step's failure, the exception being handled, as report_failure does, and
// also in the process's environment variable kCreationFailureVariable ("Varne.Browser: " and the
// description), since a script host may turn any failed creation into its own error 429 and drop
// the library's text; a script reads it through WScript.Shell's ExpandEnvironmentStrings. The
// variable keeps the last failure of the process.
HRESULT report_creation_failure(const ClassDescriptor& cls) noexcept;
inline constexpr wchar_t kCreationFailureVariable[] = L"VARNE_CREATION_FAILURE";

// The HRESULT that stands for an error number.
HRESULT error_result(int32_t number) noexcept;

}  // namespace varne::com
