#pragma once

#include <string>

namespace varne {

// The full path of the running library's own file.
std::string library_file_path();

// Whether the library's own threads still run while its statics are destroyed at process exit,
// so that an object destroyed there may end them and wait for them: so on POSIX. Windows ends
// every other thread first and destroys a library's statics under the loader lock.
bool threads_outlive_exit_of_statics();

}  // namespace varne
