#pragma once

#include <windows.h>

#include <span>
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

// A root of class registrations: an open key, the path of its classes key beneath it, and the
// name by which messages give it.
struct ClassesRoot {
    HKEY key;
    std::wstring classes_path;
    std::wstring name;
};

// HKLM\Software\Classes, then HKCU\Software\Classes.
std::span<const ClassesRoot> machine_then_user();

// Writes the values under the first of `roots` that the process may write; fails with
// SELFREG_E_CLASS and an error object naming every root and its error when none can be written.
// What a failed registration wrote is removed again.
HRESULT register_server(const LibraryDescriptor& library, const std::wstring& module_path,
                        std::span<const ClassesRoot> roots);
// Removes from every root exactly the values that registration writes (where they still hold
// what it wrote) and then the keys it made that are left empty.
HRESULT unregister_server(const LibraryDescriptor& library, const std::wstring& module_path,
                          std::span<const ClassesRoot> roots);

}  // namespace varne::com
