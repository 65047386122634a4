#pragma once

#include "spreadsheet/workbook/byte_writer.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace varne::workbook {

// The workbook's shared string table (SST): each distinct text once, in order of first use.
class SharedStrings {
public:
    // Counts one use of the text and returns its index. The text must outlive the table.
    uint32_t use(std::u16string_view text);
    // The same for a text made while saving; the table keeps it.
    uint32_t use(std::u16string&& text);

    uint32_t unique_count() const { return static_cast<uint32_t>(m_texts.size()); }

    // Writes SST, split into CONTINUE records, and the EXTSST that indexes it. out must hold
    // the stream from its first byte, since EXTSST records stream positions.
    void write(ByteWriter& out) const;

private:
    std::vector<std::u16string_view> m_texts;
    std::unordered_map<std::u16string_view, uint32_t> m_index;
    std::deque<std::u16string> m_owned;
    uint32_t m_uses = 0;
};

}  // namespace varne::workbook
