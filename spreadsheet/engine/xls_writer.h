#pragma once

#include "spreadsheet/engine/workbook.h"

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
// The whole file is written beside the target and then renamed over it, so the target is
// either the old file or the new one. Returns once the file is in place; raises
// AutomationError naming the file and the cause: 52 for a path without a file name,
// 53 file not found, 70 permission denied (also a read-only target), 75 when the target is a
// folder, 76 path not found, 61 disk full, 57 for any other write failure.
void save_xls(const Workbook& workbook, const std::string& path, const SaveOptions& options = {});

}  // namespace varne::workbook
