#include "platform/module.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

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

std::string user_registration_file()
{
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : "/tmp";
        }
        folder = std::string(home) + "/.config";
    }
    return folder + "/varne/registry.ini";
}

}  // namespace varne
