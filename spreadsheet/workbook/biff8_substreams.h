#pragma once

#include "spreadsheet/workbook/byte_writer.h"
#include "spreadsheet/workbook/shared_strings.h"
#include "spreadsheet/workbook/xls_writer.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The substreams of the BIFF8 Workbook stream: the globals, and one per sheet.
namespace varne::workbook {

// The number formats that the workbook's cells use, each with its format number and cell XF.
class FormatTable {
public:
    explicit FormatTable(const Workbook& workbook);

    // The XF of a cell shown in format; the kind's own XF for General.
    uint16_t xf(std::u16string_view format, uint16_t general_xf) const
    {
        if (equals_ignoring_case(format, kGeneralFormat))
            return general_xf;
        return m_formats.find(std::u16string(format))->second.xf;
    }

    struct Entry {
        uint16_t format_number;
        uint16_t xf;
    };
    // The formats with XFs of their own, in XF order, and the custom ones to spell out.
    const std::vector<uint16_t>& added_xf_formats() const { return m_added_xf_formats; }
    const std::vector<std::pair<uint16_t, std::u16string>>& custom_formats() const { return m_custom; }

private:
    void add(const std::u16string& format);

    std::map<std::u16string, Entry> m_formats;
    std::vector<uint16_t> m_added_xf_formats;
    std::vector<std::pair<uint16_t, std::u16string>> m_custom;
};

// Writes the globals substream; returns where each BOUNDSHEET keeps its sheet's offset.
std::vector<size_t> write_globals(ByteWriter& out, const Workbook& workbook, const SaveOptions& options,
                                  const SharedStrings& strings, const FormatTable& formats);

// The substream of one sheet; its texts join strings.
std::vector<uint8_t> encode_sheet(const Worksheet& sheet, bool active, SharedStrings& strings,
                                  const FormatTable& formats);

}  // namespace varne::workbook
