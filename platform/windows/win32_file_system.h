#pragma once

#include "platform/file_system.h"

namespace varne {

// The file port on Windows: the Win32 file functions, narrow text in the system's ANSI code page.
// A save writes a new file beside the old one and puts it in place with ReplaceFileW, or writes
// over a file with several hard links or in a folder where no file may be made. Failures carry
// the same numbers as on POSIX.
class Win32FileSystem final : public FileSystem {
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

// UTF-16 to the ANSI code page and back; characters that the code page lacks become '?'.
std::string to_ansi(std::u16string_view text);
BStr from_ansi(std::string_view bytes);

}  // namespace varne
