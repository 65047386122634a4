#pragma once

#include <functional>
#include <string>

namespace varne {

// Reads one variable of the process's environment: its value, or null while it is not set. The
// composition root hands the process's own environment to whatever reads a variable; tests hand a
// table of their own.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// The variable's value, or `fallback` while it is unset or empty.
inline std::string variable_or(const EnvironmentLookup& environment, const char* name, std::string fallback)
{
    const char* value = environment(name);
    return value != nullptr && *value != '\0' ? std::string(value) : std::move(fallback);
}

// Whether the variable is set to something other than the empty text.
inline bool variable_set(const EnvironmentLookup& environment, const char* name)
{
    const char* value = environment(name);
    return value != nullptr && *value != '\0';
}

}  // namespace varne
