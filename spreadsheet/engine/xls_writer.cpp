#include "spreadsheet/engine/xls_writer.h"

#include "spreadsheet/engine/atomic_file.h"
#include "spreadsheet/engine/compound_file.h"

namespace varne::workbook {

void save_xls(const Workbook& workbook, const std::string& path, const SaveOptions& options)
{
    const std::vector<std::vector<uint8_t>> parts = encode_workbook_stream(workbook, options);
    CompoundStream stream{u"Workbook", {}};
    for (const auto& part : parts)
        stream.parts.emplace_back(part);
    write_file_replacing(path, [&](const ByteSink& sink) { write_compound_file({stream}, sink); });
}

}  // namespace varne::workbook
