#pragma once

#include <functional>

namespace varne {

// Reads one variable of the process's environment: its value, or null while it is not set. The
// composition root hands the process's own environment to whatever reads a variable; tests hand a
// table of their own.
using EnvironmentLookup = std::function<const char*(const char* name)>;

}  // namespace varne
