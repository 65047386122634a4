#pragma once

#include <cstdint>

#include "frame/descriptor.h"

namespace varne {

// Writes, or removes, the library's entries in the per-user registration file: an entry per
// class (class id, programmatic id, library path, threading model), the type library and the
// interfaces. Entries of other libraries in the file are kept. Returns a status code.
int32_t register_library(const LibraryDescriptor& library);
int32_t unregister_library(const LibraryDescriptor& library);

}  // namespace varne
