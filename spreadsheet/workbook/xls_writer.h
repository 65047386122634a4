#pragma once

#include "frame/text.h"
#include "platform/file_system.h"
#include "spreadsheet/workbook/workbook.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varne::workbook {

// What a save stores beside the workbook itself.
struct SaveOptions {
    // FILESHARING's read-only recommended flag: readers offer (or force) opening read-only.
    bool read_only_recommended = false;
    // BACKUP's flag: the program keeps a backup copy when it saves the file again.
    bool create_backup = false;
    // The user named in WRITEACCESS; the first 54 units are kept.
    std::u16string user_name;
};

// The BIFF8 Workbook stream in consecutive pieces: the globals substream, then one
// substream per sheet in order.
std::vector<std::vector<uint8_t>> encode_workbook_stream(const Workbook& workbook, const SaveOptions& options);

// Writes the workbook as a 97-2003 .xls file (one BIFF8 Workbook stream in a compound file).
// The file is made whole in memory and replaces the old one through files.replace_file, so
// the target is either the old file or the new one. Returns once the file is in place; the
// file system's error passes through (52 no file name, 70 a read-only target, 75 a folder,
// 76 path not found, 61 disk full, 57 any other write failure).
void save_xls(const Workbook& workbook, FileSystem& files, const BStr& path, const SaveOptions& options = {});

}  // namespace varne::workbook
