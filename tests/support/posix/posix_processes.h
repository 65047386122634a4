#pragma once

#include <filesystem>
#include <string>

#include <sys/types.h>

#include "tests/support/disk_files.h"

namespace varne::testing {

// Whether the process runs and is no zombie, read from /proc.
bool process_alive(pid_t pid);
// Whether a process other than a zombie is in the group: reparented zombies may never be reaped here.
bool group_alive(pid_t pgid);

// A temporary folder of executable scripts, removed with it.
class ScriptFolder : public TemporaryFolder {
public:
    ScriptFolder() : TemporaryFolder("varne-scripts-") {}

    // Writes an executable script and returns its path.
    std::filesystem::path add(const std::string& name, const std::string& text) const;
};

}  // namespace varne::testing
