#pragma once

#include <cstdint>

#include "frame/descriptor.h"
#include "platform/environment.h"

namespace varne {
class FileSystem;
}

namespace varne::posix {

// Gives the registration the file system that it writes the file through and the environment in
// which it finds the file (XDG_CONFIG_HOME, HOME). The composition root hands them over when the
// library is loaded, before a host can call an entry point.
void use_registration_ports(FileSystem& files, EnvironmentLookup environment);

// Writes, or removes, the library's entries in the per-user registration file: an entry per
// class (class id, programmatic id, library path, threading model), the type library and the
// interfaces. Entries of other libraries in the file are kept. Returns a status code.
int32_t register_library(const LibraryDescriptor& library);
int32_t unregister_library(const LibraryDescriptor& library);

}  // namespace varne::posix
