#pragma once

namespace varne {

// The threads of this process that still run, the calling one included.
int running_threads();

}  // namespace varne
