#pragma once

#include "frame/dispatch.h"

namespace varne {

// Starts spreadsheet application instances: the port behind `ExcelConn`'s creation.
//
// The application it hands out is an object of the spreadsheet object model, reached by
// late binding. `ExcelConn` relies on: `Workbooks` with `Add` (a new empty workbook that
// becomes the active one), `Sheets` called with a sheet name (a failure when there is none),
// `Select` on a sheet (it becomes the active sheet), `ActiveWindow` with a writable
// `WindowState`, `ActiveWorkbook` with `SaveAs(Filename, FileFormat, Password,
// WriteResPassword, ReadOnlyRecommended, CreateBackup, AccessMode)`, and `Quit`. After `Quit`
// every call on the application, or on any object taken from it, fails with an
// AutomationError; none of them ever crashes.
class SpreadsheetLauncher {
public:
    virtual ~SpreadsheetLauncher() = default;
    // A new instance of its own, with no workbook open. Fails with an AutomationError that
    // says why when none can be started.
    virtual Ref<Dispatch> start_application() = 0;
};

}  // namespace varne
