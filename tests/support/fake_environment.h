#pragma once

#include <map>
#include <string>

#include "platform/environment.h"

namespace varne::testing {

// The variables of a test's own environment, by name; any other is unset.
using Variables = std::map<std::string, std::string>;

// Reads `variables`, which must outlive the lookup; a later change to them is seen by the next read.
inline EnvironmentLookup environment_of(const Variables& variables)
{
    return [&variables](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

}  // namespace varne::testing
