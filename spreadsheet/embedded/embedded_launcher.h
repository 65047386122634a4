#pragma once

#include "platform/file_system.h"
#include "spreadsheet/spreadsheet_launcher.h"

namespace varne::embedded {

// Starts spreadsheet applications inside the process, over the library's own workbook engine:
// each one independent, with no workbook open, saving workbooks as 97-2003 .xls files.
class EmbeddedLauncher final : public SpreadsheetLauncher {
public:
    // The workbooks are saved through `files`.
    explicit EmbeddedLauncher(FileSystem& files) : m_files(files) {}

    Ref<Dispatch> start_application() override;

private:
    FileSystem& m_files;
};

}  // namespace varne::embedded
