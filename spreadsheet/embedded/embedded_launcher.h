#pragma once

#include "spreadsheet/spreadsheet_launcher.h"

namespace varne::embedded {

// Starts spreadsheet applications inside the process, over the library's own workbook engine:
// each one independent, with no workbook open, saving workbooks as 97-2003 .xls files.
class EmbeddedLauncher final : public SpreadsheetLauncher {
public:
    Ref<Dispatch> start_application() override;
};

}  // namespace varne::embedded
