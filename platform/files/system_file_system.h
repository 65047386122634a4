#pragma once

#include "platform/file_system.h"

namespace varne::files {

// The file port over the system's own files: every write handed to the system before it returns
// and cut back when it fails part-way, and a save that replaces a file whole (a new file beside
// it put in its place) or, where no new file can stand in for it, writes it over. The policy is
// the same on every system; the calls beneath it are those of platform/files/native_file.h.
class SystemFileSystem final : public FileSystem {
public:
    // True for anything but a folder.
    bool file_exists(const BStr& path) override;
    // Files on disk only: a folder, a pipe or a device is refused (75) rather than waited on.
    BStr read_all_text(const BStr& path) override;
    std::unique_ptr<FileWriter> create_file(const BStr& path) override;
    std::unique_ptr<FileWriter> replace_file(const BStr& path) override;
    void delete_file(const BStr& path) override;
    void create_folders(const BStr& path) override;
};

}  // namespace varne::files
