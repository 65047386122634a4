#include "spreadsheet/workbook/workbook.h"

#include "frame/automation_error.h"
#include "frame/text.h"

namespace varne::workbook {

namespace {

constexpr int32_t kApplicationError = 1004;
constexpr size_t kNewWorkbookSheets = 3;

std::u16string default_sheet_name(unsigned number)
{
    std::u16string name = u"Sheet";
    for (char c : std::to_string(number))
        name += static_cast<char16_t>(c);
    return name;
}

}  // namespace

void check_sheet_name(std::u16string_view name)
{
    bool valid = !name.empty() && name.size() <= kMaxSheetNameLength && name.front() != u'\'' && name.back() != u'\'' &&
                 name.find_first_of(u":\\/?*[]") == std::u16string_view::npos;
    if (!valid)
        throw AutomationError(kApplicationError,
                              "You typed an invalid name for a sheet or chart. Make sure that:\n"
                              "\u2022 The name that you type does not exceed 31 characters.\n"
                              "\u2022 The name does not contain any of the following characters: : \\ / ? * [ or ]\n"
                              "\u2022 You did not leave the name blank.");
}

Workbook::Workbook()
{
    for (size_t i = 0; i < kNewWorkbookSheets; ++i)
        add_sheet(m_sheets.size());
}

Worksheet& Workbook::sheet(size_t index)
{
    check_index(index);
    return *m_sheets[index];
}

const Worksheet& Workbook::sheet(size_t index) const
{
    check_index(index);
    return *m_sheets[index];
}

std::optional<size_t> Workbook::find_sheet(std::u16string_view name) const
{
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        if (equals_ignoring_case(m_sheets[i]->name(), name))
            return i;
    }
    return std::nullopt;
}

Worksheet& Workbook::add_sheet(size_t position, std::u16string name)
{
    if (position > m_sheets.size())
        throw AutomationError::subscript_out_of_range();
    unsigned number = m_sheets_added + 1;
    if (name.empty()) {
        while (find_sheet(default_sheet_name(number)))
            ++number;
        name = default_sheet_name(number);
    } else {
        check_sheet_name(name);
        check_unique(name, std::nullopt);
    }
    m_sheets_added = number;
    auto at = m_sheets.insert(m_sheets.begin() + static_cast<std::ptrdiff_t>(position),
                              std::make_unique<Worksheet>(std::move(name)));
    if (m_sheets.size() > 1 && position <= m_active)
        ++m_active;
    return **at;
}

void Workbook::rename_sheet(size_t index, std::u16string name)
{
    check_index(index);
    check_sheet_name(name);
    check_unique(name, index);
    m_sheets[index]->m_name = std::move(name);
}

void Workbook::remove_sheet(size_t index)
{
    check_index(index);
    if (m_sheets.size() == 1)
        throw AutomationError(kApplicationError, "A workbook must contain at least one visible worksheet.");
    m_sheets.erase(m_sheets.begin() + static_cast<std::ptrdiff_t>(index));
    if (index < m_active || m_active == m_sheets.size())
        --m_active;
}

void Workbook::set_active_sheet(size_t index)
{
    check_index(index);
    m_active = index;
}

void Workbook::check_index(size_t index) const
{
    if (index >= m_sheets.size())
        throw AutomationError::subscript_out_of_range();
}

void Workbook::check_unique(std::u16string_view name, std::optional<size_t> except) const
{
    auto existing = find_sheet(name);
    if (existing && existing != except)
        throw AutomationError(kApplicationError, "That name is already taken. Try a different one.");
}

}  // namespace varne::workbook
