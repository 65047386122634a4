#pragma once

#include <windows.h>

#include <string>

#include "frame/descriptor.h"

namespace varne::com {

// The DLL's own module handle (recorded by DllMain) and full path.
HMODULE module_handle() noexcept;
std::wstring module_path();

inline IID to_iid(const Guid& id) noexcept
{
    IID iid;
    iid.Data1 = id.data1;
    iid.Data2 = id.data2;
    iid.Data3 = id.data3;
    for (size_t i = 0; i < id.data4.size(); ++i)
        iid.Data4[i] = id.data4[i];
    return iid;
}

inline Guid from_iid(const IID& iid) noexcept
{
    Guid id{iid.Data1, iid.Data2, iid.Data3, {}};
    for (size_t i = 0; i < id.data4.size(); ++i)
        id.data4[i] = iid.Data4[i];
    return id;
}

}  // namespace varne::com
