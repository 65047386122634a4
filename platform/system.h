#pragma once

namespace varne {

class Clock;
class FileSystem;

// The operating system's own adapters of the clock and file ports; each platform folder defines them.
Clock& system_clock();
FileSystem& system_file_system();

}  // namespace varne
