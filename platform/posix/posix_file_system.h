#pragma once

#include "platform/file_system.h"

namespace varne {

// The file port on POSIX: UTF-8 text, every write handed to the kernel before it returns and cut
// back when it fails part-way, and replacement by rename of a file made without a name (or,
// where the file system makes none, under a short hidden name that later saves remove once its
// saver has died), so that a reader never sees half a file.
class PosixFileSystem final : public FileSystem {
public:
    // True for anything but a folder.
    bool file_exists(const BStr& path) override;
    // Regular files only: a folder, a pipe or a device is refused (75) rather than waited on.
    BStr read_all_text(const BStr& path) override;
    std::unique_ptr<FileWriter> create_file(const BStr& path) override;
    std::unique_ptr<FileWriter> replace_file(const BStr& path) override;
    void delete_file(const BStr& path) override;
    void create_folders(const BStr& path) override;
};

}  // namespace varne
