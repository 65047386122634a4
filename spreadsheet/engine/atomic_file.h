#pragma once

#include "frame/automation_error.h"
#include "spreadsheet/engine/compound_file.h"

#include <functional>
#include <string>
#include <system_error>

namespace varne::workbook {

// Has produce write the whole file into a new file in the target's folder, then renames it
// over path, so that path holds the old file or the new one and never a part. An existing
// target's permissions carry over; a symbolic link is followed, not replaced. Returns once
// the file is in place; on any failure the new file is removed and AutomationError is raised
// (see file_error), and an error that produce raises passes through unchanged.
void write_file_replacing(const std::string& path, const std::function<void(const ByteSink&)>& produce);

// The error for a failed write of path: 53 file not found, 76 path not found, 70 permission
// denied, 75 path/file access error (a folder), 52 bad file name, 61 disk full, else 57.
AutomationError file_error(const std::string& path, std::error_code error);

}  // namespace varne::workbook
