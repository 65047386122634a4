#pragma once

#include "spreadsheet/workbook/worksheet.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varne::workbook {

// The longest sheet name, in UTF-16 code units.
inline constexpr size_t kMaxSheetNameLength = 31;

// The state of the workbook's window; only "minimized" has a place in the file.
enum class WindowState { normal, maximized, minimized };

// An in-memory workbook: ordered sheets with unique names, one of them active.
class Workbook {
public:
    // A new workbook as the spreadsheet program makes one: Sheet1, Sheet2, Sheet3, the first active.
    Workbook();

    size_t sheet_count() const { return m_sheets.size(); }
    // 0-based; AutomationError 9 (Subscript out of range) past the last sheet. A sheet stays
    // at the same address while it belongs to the workbook.
    Worksheet& sheet(size_t index);
    const Worksheet& sheet(size_t index) const;
    // The sheet of that name, compared ignoring case.
    std::optional<size_t> find_sheet(std::u16string_view name) const;

    // Inserts a sheet before position (sheet_count() appends) and returns it. An empty name
    // takes the next free "SheetN". Raises 1004 for a refused name, 9 for a bad position.
    // The active sheet stays the one that was active.
    Worksheet& add_sheet(size_t position, std::u16string name = {});
    // Raises 1004 for a refused name; a sheet may take its own name in another case.
    void rename_sheet(size_t index, std::u16string name);
    // Raises 1004 when it is the last sheet. The next sheet becomes active when the active one goes.
    void remove_sheet(size_t index);

    size_t active_sheet() const { return m_active; }
    void set_active_sheet(size_t index);

    WindowState window_state() const { return m_window_state; }
    void set_window_state(WindowState state) { m_window_state = state; }

private:
    void check_index(size_t index) const;
    void check_unique(std::u16string_view name, std::optional<size_t> except) const;

    std::vector<std::unique_ptr<Worksheet>> m_sheets;
    size_t m_active = 0;
    // Default names count every sheet ever added, as the spreadsheet program does.
    unsigned m_sheets_added = 0;
    WindowState m_window_state = WindowState::normal;
};

// Raises AutomationError 1004 unless name is 1..31 units, holds none of : \ / ? * [ ]
// and neither starts nor ends with an apostrophe. Uniqueness is the workbook's check.
void check_sheet_name(std::u16string_view name);

}  // namespace varne::workbook
