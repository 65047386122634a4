#include "spreadsheet/workbook/xls_writer.h"

#include "spreadsheet/workbook/compound_file.h"

namespace varne::workbook {

void save_xls(const Workbook& workbook, FileSystem& files, const BStr& path, const SaveOptions& options)
{
    const std::vector<std::vector<uint8_t>> parts = encode_workbook_stream(workbook, options);
    CompoundStream stream{u"Workbook", {}};
    for (const auto& part : parts)
        stream.parts.emplace_back(part);
    std::vector<uint8_t> file;
    write_compound_file({stream},
                        [&](std::span<const uint8_t> bytes) { file.insert(file.end(), bytes.begin(), bytes.end()); });
    auto writer = files.replace_file(path);
    writer->write_bytes(file);
    writer->close();
}

}  // namespace varne::workbook
