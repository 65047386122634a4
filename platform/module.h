#pragma once

#include <string>

namespace varne {

// The full path of the running library's own file.
std::string library_file_path();

}  // namespace varne
