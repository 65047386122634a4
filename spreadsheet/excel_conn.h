#pragma once

#include "frame/interfaces.h"

namespace varne {

class SpreadsheetLauncher;

// A spreadsheet application instance of its own, started with one new workbook, and the
// saving of its active workbook. Every failure of the application is raised where it
// happens, except while the object is released, when every failure is ignored.
class ExcelConn final : public _ExcelConn {
public:
    // Starts the application through the spreadsheet port and adds a workbook; raises the
    // port's or the application's AutomationError, and then no object exists.
    explicit ExcelConn(SpreadsheetLauncher& launcher);

    // The application that the object holds, the same one every time.
    Ref<Dispatch> GetXL() override;
    // Selects DefaultSheet (unless empty), maximizes the active window and saves the active
    // workbook as Filename in format 43, read-only recommended. Each step runs only when the
    // one before it succeeded; a failure is raised as the application reports it.
    void SaveWorkbook(const BStr& Filename, const BStr& DefaultSheet = {}) override;

private:
    // Asks the application to quit and lets go of it, ignoring every failure.
    void release_step() noexcept override;

    Ref<Dispatch> m_application;
};

}  // namespace varne
