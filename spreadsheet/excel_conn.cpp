#include "spreadsheet/excel_conn.h"

#include <string>

#include "spreadsheet/spreadsheet_launcher.h"

namespace varne {

namespace {

constexpr int32_t kMaximized = -4137;  // xlMaximized
constexpr int32_t kFileFormat = 43;  // the 95 and 97 workbook format
constexpr int32_t kNoChange = 1;  // access mode xlNoChange

// The object that a property of the application gave, which must be there.
Ref<Dispatch> object_of(const Variant& value, std::u16string_view property)
{
    Ref<Dispatch> object = to_object(value);
    if (!object)
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the spreadsheet application has no " + to_utf8(property));
    return object;
}

}  // namespace

ExcelConn::ExcelConn(SpreadsheetLauncher& launcher) : m_application(launcher.start_application())
{
    Ref<Dispatch> workbooks = object_of(varne::get_property(*m_application, u"Workbooks"), u"Workbooks");
    invoke(*workbooks, u"Add");
}

Ref<Dispatch> ExcelConn::GetXL()
{
    return m_application;
}

void ExcelConn::SaveWorkbook(const BStr& Filename, const BStr& DefaultSheet)
{
    if (!DefaultSheet.empty()) {
        Ref<Dispatch> sheets = object_of(varne::get_property(*m_application, u"Sheets"), u"Sheets");
        const Variant name[] = {DefaultSheet};
        Ref<Dispatch> sheet = object_of(varne::call_default(*sheets, name), u"sheet " + DefaultSheet);
        invoke(*sheet, u"Select");
    }
    Ref<Dispatch> window = object_of(varne::get_property(*m_application, u"ActiveWindow"), u"ActiveWindow");
    varne::put_property(*window, u"WindowState", kMaximized);

    Ref<Dispatch> workbook = object_of(varne::get_property(*m_application, u"ActiveWorkbook"), u"ActiveWorkbook");
    const Variant save_as[] = {Filename, kFileFormat, BStr(), BStr(), true, false, kNoChange};
    invoke(*workbook, u"SaveAs", save_as);
}

void ExcelConn::release_step() noexcept
{
    try {
        invoke(*m_application, u"Quit");
    } catch (...) {
        // The application may be gone already (quit through GetXL, or closed by a person);
        // the release completes whatever it says.
    }
    m_application = nullptr;
}

}  // namespace varne
