#pragma once

#include <string>

namespace varne {

// Where the running library lives, and where the user's own settings of the library go.
std::string library_file_path();
// The per-user registration file of the library's classes.
std::string user_registration_file();

}  // namespace varne
