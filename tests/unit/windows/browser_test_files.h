#pragma once

#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

namespace varne::testing {

// A helper program built beside the running test.
inline std::filesystem::path helper_path(const std::wstring& name)
{
    wchar_t program[MAX_PATH];
    return std::filesystem::path(std::wstring(program, GetModuleFileNameW(nullptr, program, MAX_PATH))).parent_path() /
           name;
}

// The browsers' profile folders and locks in the temporary folder.
inline std::set<std::filesystem::path> profiles()
{
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
        if (entry.path().filename().string().starts_with("varne-profile-"))
            found.insert(entry.path());
    }
    return found;
}

}  // namespace varne::testing
