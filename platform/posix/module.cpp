#include "platform/module.h"

#include <dlfcn.h>

#include <cstdlib>

namespace varne {

std::string library_file_path()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&library_file_path), &info) == 0 || !info.dli_fname)
        return {};
    char resolved[4096];
    if (realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

bool threads_outlive_exit_of_statics()
{
    return true;
}

}  // namespace varne
