#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frame/descriptor.h"

namespace varne::com {

// One value that registration writes, under a key relative to a classes root.
struct RegistryValue {
    std::wstring key;
    std::wstring name;  // empty for the key's default value
    std::wstring data;
};

// What registration writes for the library at `module_path`: per class its class id (in-process
// server, threading model, programmatic ids, type library), `Varne.<Class>` with `CurVer` and
// `Varne.<Class>.1`, per interface the type library's marshaller, and the type library itself.
std::vector<RegistryValue> registry_values(const LibraryDescriptor& library, const std::wstring& module_path);

// Writes the values under HKLM\Software\Classes when the process may, else under
// HKCU\Software\Classes; fails with SELFREG_E_CLASS and an error object naming both roots when
// neither can be written. What a failed registration wrote is removed again.
HRESULT register_server(const LibraryDescriptor& library, const std::wstring& module_path);
// Removes from both roots exactly the values that registration writes (where they still hold what
// it wrote) and then the keys it made that are left empty.
HRESULT unregister_server(const LibraryDescriptor& library, const std::wstring& module_path);

}  // namespace varne::com
