#pragma once

namespace varne {

// The process's own environment, read at the moment of each call: the one place of the library
// that reads it, handed as an EnvironmentLookup to whatever needs a variable.
const char* process_environment(const char* name);

}  // namespace varne
