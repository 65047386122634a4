#include "platform/module.h"

#include <windows.h>

#include <vector>

#include "frame/text.h"

namespace varne {

std::string library_file_path()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&library_file_path), &module))
        return {};
    // Paths may be longer than MAX_PATH; the buffer grows until the whole name fits.
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return {};
        if (length < name.size())
            return to_utf8(std::u16string(name.begin(), name.begin() + length));
        name.resize(name.size() * 2);
    }
}

bool threads_outlive_exit_of_statics()
{
    return false;
}

}  // namespace varne
