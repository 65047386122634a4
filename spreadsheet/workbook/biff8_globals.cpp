#include "spreadsheet/workbook/biff8_records.h"
#include "spreadsheet/workbook/biff8_substreams.h"

#include "frame/automation_error.h"
#include "spreadsheet/workbook/number_format.h"

#include <algorithm>

namespace varne::workbook {

namespace {

constexpr int32_t kApplicationError = 1004;
constexpr size_t kMaxUserName = 54;
constexpr size_t kWriteAccessSize = 112;

void write_font(ByteWriter& out, bool bold, bool italic)
{
    size_t body = begin_record(out, kFont);
    out.u16(200).u16(italic ? 0x0002 : 0).u16(0x7FFF).u16(bold ? 700 : 400).u16(0).u8(0).u8(0).u8(0).u8(0);
    short_unicode_string(out, u"Arial");
    end_record(out, body);
}

// flags holds locking, the style bit and the parent style; used_attributes the fAtr* bits.
void write_xf(ByteWriter& out, uint16_t font, uint16_t format, uint16_t flags, uint8_t used_attributes)
{
    header(out, kXf, 20);
    out.u16(font).u16(format).u16(flags).u8(0x20).u8(0).u8(0).u8(used_attributes).u32(0).u32(0).u16(0x20C0);
}

void write_formats(ByteWriter& out, const FormatTable& formats)
{
    write_font(out, false, false);
    write_font(out, true, false);
    write_font(out, false, true);
    write_font(out, true, true);
    for (const auto& [number, format] : formats.custom_formats()) {
        size_t body = begin_record(out, kFormat);
        out.u16(number);
        unicode_string(out, format);
        end_record(out, body);
    }
    constexpr uint16_t kStyleFlags = 0xFFF5;  // locked, a style, no parent
    constexpr uint16_t kCellFlags = 0x0001;  // locked, child of the Normal style
    constexpr uint8_t kNumberFormatUsed = 0x04;
    write_xf(out, 0, 0, kStyleFlags, 0);
    static constexpr uint16_t kStyleFonts[] = {1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (uint16_t font : kStyleFonts)
        write_xf(out, font, 0, kStyleFlags, 0xF4);
    write_xf(out, 0, 0, kCellFlags, 0);
    write_xf(out, 0, 14, kCellFlags, kNumberFormatUsed);
    write_xf(out, 0, 22, kCellFlags, kNumberFormatUsed);
    write_xf(out, 0, 21, kCellFlags, kNumberFormatUsed);
    for (uint16_t number : formats.added_xf_formats())
        write_xf(out, 0, number, kCellFlags, kNumberFormatUsed);
    header(out, kStyle, 4);
    out.u16(0x8000).u8(0).u8(0xFF);  // built-in Normal style on XF 0
}

}  // namespace

FormatTable::FormatTable(const Workbook& workbook)
{
    for (size_t i = 0; i < workbook.sheet_count(); ++i) {
        for (const FormatRegion& region : workbook.sheet(i).format_regions())
            add(region.format);
    }
}

void FormatTable::add(const std::u16string& format)
{
    if (equals_ignoring_case(format, kGeneralFormat) || m_formats.contains(format))
        return;
    std::optional<uint16_t> builtin = builtin_format_id(format);
    if (builtin == 14 || builtin == 22 || builtin == 21) {
        m_formats[format] = {*builtin, *builtin == 14 ? kDateXf : *builtin == 22 ? kDateTimeXf : kTimeXf};
        return;
    }
    if (m_added_xf_formats.size() == kMaxNumberFormats)
        throw AutomationError(kApplicationError, "The workbook uses more than 4000 different number formats, "
                                                 "more than the file format holds");
    uint16_t number = builtin.value_or(static_cast<uint16_t>(kFirstCustomFormat + m_custom.size()));
    if (!builtin)
        m_custom.emplace_back(number, format);
    m_formats[format] = {number, static_cast<uint16_t>(kFirstFormatXf + m_added_xf_formats.size())};
    m_added_xf_formats.push_back(number);
}

std::vector<size_t> write_globals(ByteWriter& out, const Workbook& workbook, const SaveOptions& options,
                                  const SharedStrings& strings, const FormatTable& formats)
{
    write_bof(out, kGlobalsSubstream);
    u16_record(out, kInterfaceHdr, kUtf16CodePage);
    u16_record(out, kMms, 0);
    header(out, kInterfaceEnd, 0);

    size_t body = begin_record(out, kWriteAccess);
    unicode_string(out, std::u16string_view(options.user_name).substr(0, kMaxUserName));
    while (out.size() - body < kWriteAccessSize)
        out.u8(' ');
    end_record(out, body);
    if (options.read_only_recommended) {
        // fReadOnlyRec, no write-reservation password and so no user name after it.
        header(out, kFileSharing, 6);
        out.u16(1).u16(0).u16(0);
    }
    u16_record(out, kCodePage, kUtf16CodePage);
    u16_record(out, kDsf, 0);

    constexpr size_t kMaxTabIds = 4112;  // what one record holds
    size_t tab_ids = std::min(workbook.sheet_count(), kMaxTabIds);
    header(out, kTabId, static_cast<uint16_t>(tab_ids * 2));
    for (size_t i = 0; i < tab_ids; ++i)
        out.u16(static_cast<uint16_t>(i + 1));
    u16_records(
        out,
        {{kFnGroupCount, 14}, {kWindowProtect, 0}, {kProtect, 0}, {kPassword, 0}, {kProt4Rev, 0}, {kProt4RevPass, 0}});

    constexpr uint16_t kIconic = 0x0002;
    uint16_t window_flags = 0x0038 | (workbook.window_state() == WindowState::minimized ? kIconic : 0);
    header(out, kWindow1, 18);
    out.u16(360).u16(270).u16(14940).u16(9150).u16(window_flags);
    out.u16(static_cast<uint16_t>(workbook.active_sheet())).u16(0).u16(1).u16(600);

    u16_records(out, {{kBackup, uint16_t(options.create_backup ? 1 : 0)},
                      {kHideObj, 0},
                      {kDateMode, 0},
                      {kPrecision, 1},
                      {kRefreshAll, 0},
                      {kBookBool, 0}});
    write_formats(out, formats);
    u16_record(out, kUsesElfs, 0);

    std::vector<size_t> offset_fields;
    for (size_t i = 0; i < workbook.sheet_count(); ++i) {
        body = begin_record(out, kBoundSheet);
        offset_fields.push_back(out.size());
        out.u32(0).u8(0).u8(0);  // stream offset (patched), visible, worksheet
        short_unicode_string(out, workbook.sheet(i).name());
        end_record(out, body);
    }
    header(out, kCountry, 4);
    out.u16(1).u16(1);
    strings.write(out);
    write_eof(out);
    return offset_fields;
}

std::vector<std::vector<uint8_t>> encode_workbook_stream(const Workbook& workbook, const SaveOptions& options)
{
    SharedStrings strings;
    FormatTable formats(workbook);
    std::vector<std::vector<uint8_t>> parts(1);
    for (size_t i = 0; i < workbook.sheet_count(); ++i)
        parts.push_back(encode_sheet(workbook.sheet(i), i == workbook.active_sheet(), strings, formats));

    ByteWriter globals;
    std::vector<size_t> offset_fields = write_globals(globals, workbook, options, strings, formats);
    uint64_t position = globals.size();
    for (size_t i = 0; i < offset_fields.size(); ++i) {
        globals.patch_u32(offset_fields[i], static_cast<uint32_t>(position));
        position += parts[i + 1].size();
    }
    parts[0] = globals.take();
    return parts;
}

}  // namespace varne::workbook
