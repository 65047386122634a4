#include "spreadsheet/engine/xls_writer.h"

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "spreadsheet/engine/byte_writer.h"
#include "spreadsheet/engine/number_format.h"
#include "spreadsheet/engine/shared_strings.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <map>

namespace varne::workbook {

namespace {

// Record identifiers of the globals substream.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kInterfaceHdr = 0x00E1;
constexpr uint16_t kMms = 0x00C1;
constexpr uint16_t kInterfaceEnd = 0x00E2;
constexpr uint16_t kWriteAccess = 0x005C;
constexpr uint16_t kFileSharing = 0x005B;
constexpr uint16_t kCodePage = 0x0042;
constexpr uint16_t kDsf = 0x0161;
constexpr uint16_t kTabId = 0x013D;
constexpr uint16_t kFnGroupCount = 0x009C;
constexpr uint16_t kWindowProtect = 0x0019;
constexpr uint16_t kProtect = 0x0012;
constexpr uint16_t kPassword = 0x0013;
constexpr uint16_t kProt4Rev = 0x01AF;
constexpr uint16_t kProt4RevPass = 0x01BC;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kBackup = 0x0040;
constexpr uint16_t kHideObj = 0x008D;
constexpr uint16_t kDateMode = 0x0022;
constexpr uint16_t kPrecision = 0x000E;
constexpr uint16_t kRefreshAll = 0x01B7;
constexpr uint16_t kBookBool = 0x00DA;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kFormat = 0x041E;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kUsesElfs = 0x0160;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kCountry = 0x008C;
// Record identifiers of a worksheet substream.
constexpr uint16_t kCalcMode = 0x000D;
constexpr uint16_t kCalcCount = 0x000C;
constexpr uint16_t kRefMode = 0x000F;
constexpr uint16_t kIteration = 0x0011;
constexpr uint16_t kDelta = 0x0010;
constexpr uint16_t kSaveRecalc = 0x005F;
constexpr uint16_t kPrintHeaders = 0x002A;
constexpr uint16_t kPrintGridlines = 0x002B;
constexpr uint16_t kGridSet = 0x0082;
constexpr uint16_t kGuts = 0x0080;
constexpr uint16_t kDefaultRowHeight = 0x0225;
constexpr uint16_t kWsBool = 0x0081;
constexpr uint16_t kDefColWidth = 0x0055;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kWindow2 = 0x023E;

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kGlobalsSubstream = 0x0005;
constexpr uint16_t kWorksheetSubstream = 0x0010;
constexpr uint16_t kUtf16CodePage = 1200;

// Cell formats: XF 0 is the Normal style, 1..14 the other style XFs, then the cell XFs.
constexpr uint16_t kGeneralXf = 15;
constexpr uint16_t kDateXf = 16;  // built-in format 14, m/d/yyyy
constexpr uint16_t kDateTimeXf = 17;  // built-in format 22, m/d/yyyy h:mm
constexpr uint16_t kTimeXf = 18;  // built-in format 21, h:mm:ss
constexpr uint16_t kFirstFormatXf = 19;  // then one cell XF per other number format in use
constexpr uint16_t kFirstCustomFormat = 164;
// Readers accept about 4,000 XF records; the workbook's own take the first 19.
constexpr size_t kMaxNumberFormats = 4000;
constexpr int32_t kApplicationError = 1004;

constexpr uint32_t kRowsPerBlock = 32;
constexpr size_t kMaxUserName = 54;
constexpr size_t kWriteAccessSize = 112;

// The number formats that the workbook's cells use, each with its format number and cell XF.
class FormatTable {
public:
    explicit FormatTable(const Workbook& workbook)
    {
        for (size_t i = 0; i < workbook.sheet_count(); ++i) {
            for (const FormatRegion& region : workbook.sheet(i).format_regions())
                add(region.format);
        }
    }

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
    void add(const std::u16string& format)
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

    std::map<std::u16string, Entry> m_formats;
    std::vector<uint16_t> m_added_xf_formats;
    std::vector<std::pair<uint16_t, std::u16string>> m_custom;
};

void header(ByteWriter& out, uint16_t id, uint16_t length)
{
    out.u16(id).u16(length);
}

void u16_record(ByteWriter& out, uint16_t id, uint16_t value)
{
    header(out, id, 2);
    out.u16(value);
}

size_t begin_record(ByteWriter& out, uint16_t id)
{
    header(out, id, 0);
    return out.size();
}

void end_record(ByteWriter& out, size_t body_start)
{
    out.patch_u16(body_start - 2, static_cast<uint16_t>(out.size() - body_start));
}

// XLUnicodeString: 16-bit count, flags, then one or two bytes per unit.
void unicode_string(ByteWriter& out, std::u16string_view text)
{
    bool compressed = fits_one_byte(text);
    out.u16(static_cast<uint16_t>(text.size())).u8(compressed ? 0 : 1).units(text, compressed);
}

// ShortXLUnicodeString: the same with an 8-bit count.
void short_unicode_string(ByteWriter& out, std::u16string_view text)
{
    bool compressed = fits_one_byte(text);
    out.u8(static_cast<uint8_t>(text.size())).u8(compressed ? 0 : 1).units(text, compressed);
}

void write_bof(ByteWriter& out, uint16_t substream)
{
    header(out, kBof, 16);
    out.u16(kBiff8).u16(substream).u16(0x0DBB).u16(0x07CC).u32(0x00000009).u32(0x00000006);
}

void write_eof(ByteWriter& out)
{
    header(out, kEof, 0);
}

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

// Writes the globals substream; returns where each BOUNDSHEET keeps its sheet's offset.
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
    u16_record(out, kFnGroupCount, 14);
    u16_record(out, kWindowProtect, 0);
    u16_record(out, kProtect, 0);
    u16_record(out, kPassword, 0);
    u16_record(out, kProt4Rev, 0);
    u16_record(out, kProt4RevPass, 0);

    constexpr uint16_t kIconic = 0x0002;
    uint16_t window_flags = 0x0038 | (workbook.window_state() == WindowState::minimized ? kIconic : 0);
    header(out, kWindow1, 18);
    out.u16(360).u16(270).u16(14940).u16(9150).u16(window_flags);
    out.u16(static_cast<uint16_t>(workbook.active_sheet())).u16(0).u16(1).u16(600);

    u16_record(out, kBackup, options.create_backup ? 1 : 0);
    u16_record(out, kHideObj, 0);
    u16_record(out, kDateMode, 0);
    u16_record(out, kPrecision, 1);
    u16_record(out, kRefreshAll, 0);
    u16_record(out, kBookBool, 0);
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

// RK: a 30-bit integer or the top 30 bits of a double, either optionally divided by 100.
std::optional<uint32_t> to_rk(double value)
{
    auto decode = [](uint32_t rk) {
        double number = (rk & 0x2) ? static_cast<double>(static_cast<int32_t>(rk) >> 2)
                                   : std::bit_cast<double>(uint64_t{rk & 0xFFFFFFFCu} << 32);
        return (rk & 0x1) ? number / 100 : number;
    };
    auto encode = [](double number, uint32_t divided) -> std::optional<uint32_t> {
        if (number >= -536870912.0 && number < 536870912.0 && number == std::trunc(number))
            return (static_cast<uint32_t>(static_cast<int32_t>(number)) << 2) | 0x2 | divided;
        uint64_t bits = std::bit_cast<uint64_t>(number);
        if ((bits & 0x3FFFFFFFFull) == 0)
            return static_cast<uint32_t>(bits >> 32) | divided;
        return std::nullopt;
    };
    for (uint32_t divided : {0u, 1u}) {
        auto rk = encode(divided ? value * 100 : value, divided);
        if (rk && std::bit_cast<uint64_t>(decode(*rk)) == std::bit_cast<uint64_t>(value))
            return rk;
    }
    return std::nullopt;
}

// A date as the 1900 date system stores it: a serial number with a date XF, or, before
// 1900 where no serial exists, its text.
struct StoredDate {
    double serial = 0;
    uint16_t xf = kDateXf;
    std::optional<std::u16string> text;
};

// The text that a date before 1900 becomes, as m/d/yyyy with the time when there is one.
std::u16string date_text(double serial)
{
    CivilTime time = to_civil_time(serial);
    char text[48];
    int length = std::snprintf(text, sizeof text, "%d/%d/%d", time.month, time.day, time.year);
    if (time.hour || time.minute || time.second) {
        int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), " %d:%02d:%02d %s", hour12,
                                time.minute, time.second, time.hour < 12 ? "AM" : "PM");
    }
    return std::u16string(text, text + length);
}

StoredDate store_date(double serial)
{
    // Day 0 is a time of day alone; the whole part counts backwards before it.
    if (serial > -1 && serial < 1)
        return {std::fabs(serial), kTimeXf, std::nullopt};
    // The 1900 system counts a 29 February 1900 that never was, so serials before
    // 1 March 1900 (61 in both systems) are one lower than automation dates.
    constexpr double kFirstMarch1900 = 61;
    constexpr double kFirstJanuary1900 = 2;
    if (serial < kFirstJanuary1900)
        return {0, kGeneralXf, date_text(serial)};
    double stored = serial < kFirstMarch1900 ? serial - 1 : serial;
    return {stored, serial == std::trunc(serial) ? kDateXf : kDateTimeXf, std::nullopt};
}

// One cell ready for its record.
struct EncodedCell {
    enum class As { rk, number, text, boolean };
    uint16_t column;  // 0-based
    uint16_t xf;
    As as;
    uint32_t rk_or_string;
    double number;
    bool boolean;
};

EncodedCell encode_number(uint16_t column, double number, uint16_t xf)
{
    if (auto rk = to_rk(number))
        return {column, xf, EncodedCell::As::rk, *rk, 0, false};
    return {column, xf, EncodedCell::As::number, 0, number, false};
}

void encode_row(const Worksheet& sheet, uint32_t row, SharedStrings& strings, const FormatTable& formats,
                std::vector<EncodedCell>& cells)
{
    cells.clear();
    const bool formatted = !sheet.format_regions().empty();
    sheet.for_each_cell_in_row(row, [&](uint16_t column_1, const CellValueView& value) {
        auto column = static_cast<uint16_t>(column_1 - 1);
        auto xf = [&](uint16_t general_xf) {
            return formatted ? formats.xf(sheet.number_format({row, column_1}), general_xf) : general_xf;
        };
        if (auto* number = std::get_if<double>(&value)) {
            cells.push_back(encode_number(column, *number, xf(kGeneralXf)));
        } else if (auto* text = std::get_if<std::u16string_view>(&value)) {
            cells.push_back({column, xf(kGeneralXf), EncodedCell::As::text, strings.use(*text), 0, false});
        } else if (auto* boolean = std::get_if<bool>(&value)) {
            cells.push_back({column, xf(kGeneralXf), EncodedCell::As::boolean, 0, 0, *boolean});
        } else if (auto* date = std::get_if<DateTime>(&value)) {
            StoredDate stored = store_date(date->serial);
            if (stored.text) {
                uint32_t index = strings.use(std::move(*stored.text));
                cells.push_back({column, kGeneralXf, EncodedCell::As::text, index, 0, false});
            } else {
                cells.push_back(encode_number(column, stored.serial, xf(stored.xf)));
            }
        }
    });
}

// A column as COLINFO describes it.
struct Column {
    uint16_t width;  // in 1/256 of a character
    uint16_t xf;
    uint16_t flags;
    friend bool operator==(const Column&, const Column&) = default;
};

// COLINFO for each run of neighbouring columns with the same width and format, where either
// differs from the sheet's default. A column's format is that of the last format given to
// the whole of it, so that readers show cells typed into it later in that format too.
void write_column_info(ByteWriter& out, const Worksheet& sheet, const FormatTable& formats)
{
    constexpr uint16_t kHidden = 0x0001;
    constexpr uint16_t kUserSet = 0x0002;
    // The spreadsheet program's own conversion: characters of a 7-pixel digit plus 5 pixels of margin.
    auto file_width = [](double characters) {
        return static_cast<uint16_t>(characters <= 0 ? 0 : std::trunc((characters * 7 + 5) / 7 * 256));
    };
    std::vector<Column> columns(kMaxColumns + 1, {file_width(kStandardColumnWidth), kGeneralXf, 0});
    for (uint16_t column = 1; column <= kMaxColumns; ++column) {
        if (sheet.has_column_width(column)) {
            double width = sheet.column_width(column);
            columns[column] = {file_width(width), kGeneralXf,
                               static_cast<uint16_t>(width == 0 ? kHidden | kUserSet : kUserSet)};
        }
    }
    for (const FormatRegion& region : sheet.format_regions()) {
        if (region.area.first.row != 1 || region.area.last.row != kMaxRows)
            continue;
        for (uint16_t column = region.area.first.column; column <= region.area.last.column; ++column)
            columns[column].xf = formats.xf(region.format, kGeneralXf);
    }
    const Column standard{file_width(kStandardColumnWidth), kGeneralXf, 0};
    for (uint16_t first = 1; first <= kMaxColumns;) {
        uint16_t last = first;
        while (last < kMaxColumns && columns[last + 1] == columns[first])
            ++last;
        if (columns[first] != standard) {
            header(out, kColInfo, 12);
            out.u16(first - 1).u16(last - 1).u16(columns[first].width).u16(columns[first].xf);
            out.u16(columns[first].flags).u16(0);
        }
        first = static_cast<uint16_t>(last + 1);
        if (last == kMaxColumns)
            break;
    }
}

void write_cells(ByteWriter& out, uint16_t row, const std::vector<EncodedCell>& cells)
{
    for (size_t i = 0; i < cells.size();) {
        const EncodedCell& cell = cells[i];
        size_t run_end = i + 1;
        if (cell.as == EncodedCell::As::rk) {
            while (run_end < cells.size() && cells[run_end].as == EncodedCell::As::rk &&
                   cells[run_end].column == cells[run_end - 1].column + 1)
                ++run_end;
        }
        if (run_end - i > 1) {
            // MULRK: a run of neighbouring RK cells in one record.
            header(out, kMulRk, static_cast<uint16_t>(6 + 6 * (run_end - i)));
            out.u16(row).u16(cell.column);
            for (size_t k = i; k < run_end; ++k)
                out.u16(cells[k].xf).u32(cells[k].rk_or_string);
            out.u16(cells[run_end - 1].column);
            i = run_end;
            continue;
        }
        switch (cell.as) {
        case EncodedCell::As::rk:
            header(out, kRk, 10);
            out.u16(row).u16(cell.column).u16(cell.xf).u32(cell.rk_or_string);
            break;
        case EncodedCell::As::number:
            header(out, kNumber, 14);
            out.u16(row).u16(cell.column).u16(cell.xf).f64(cell.number);
            break;
        case EncodedCell::As::text:
            header(out, kLabelSst, 10);
            out.u16(row).u16(cell.column).u16(cell.xf).u32(cell.rk_or_string);
            break;
        case EncodedCell::As::boolean:
            header(out, kBoolErr, 8);
            out.u16(row).u16(cell.column).u16(cell.xf).u8(cell.boolean ? 1 : 0).u8(0);
            break;
        }
        ++i;
    }
}

void write_sheet_settings(ByteWriter& out)
{
    u16_record(out, kCalcMode, 1);
    u16_record(out, kCalcCount, 100);
    u16_record(out, kRefMode, 1);
    u16_record(out, kIteration, 0);
    header(out, kDelta, 8);
    out.f64(0.001);
    u16_record(out, kSaveRecalc, 1);
    u16_record(out, kPrintHeaders, 0);
    u16_record(out, kPrintGridlines, 0);
    u16_record(out, kGridSet, 1);
    header(out, kGuts, 8);
    out.zeros(8);
    header(out, kDefaultRowHeight, 4);
    out.u16(0).u16(0x00FF);
    u16_record(out, kWsBool, 0x04C1);
    u16_record(out, kDefColWidth, 8);
}

std::vector<uint8_t> encode_sheet(const Worksheet& sheet, bool active, SharedStrings& strings,
                                  const FormatTable& formats)
{
    ByteWriter out;
    out.reserve(256 + sheet.cell_count() * 12);
    write_bof(out, kWorksheetSubstream);
    write_sheet_settings(out);
    write_column_info(out, sheet, formats);

    header(out, kDimensions, 14);
    if (auto area = sheet.used_area())
        out.u32(area->first.row - 1).u32(area->last.row).u16(area->first.column - 1).u16(area->last.column).u16(0);
    else
        out.zeros(14);

    // Rows go in blocks of 32: the block's ROW records, then its cells. A row has a ROW record
    // when it holds cells or a height of its own; an empty row's cell span is 0 to 0.
    constexpr uint16_t kStandardHeightTwips = 0x00FF;
    constexpr uint16_t kRowFlags = 0x0100;
    constexpr uint16_t kRowHidden = 0x0020;
    constexpr uint16_t kRowHeightSet = 0x0040;
    const uint32_t last_row = std::max(sheet.row_limit(), sheet.last_row_with_height());
    std::vector<EncodedCell> cells;
    for (uint32_t block = 1; block <= last_row; block += kRowsPerBlock) {
        uint32_t block_end = std::min(block + kRowsPerBlock, last_row + 1);
        for (uint32_t row = block; row < block_end; ++row) {
            uint16_t first = 0;
            uint16_t last = 0;
            if (row <= sheet.row_limit()) {
                sheet.for_each_cell_in_row(row, [&](uint16_t column, const CellValueView&) {
                    first = first ? first : column;
                    last = column;
                });
            }
            const bool own_height = sheet.has_row_height(row);
            if (first == 0 && !own_height)
                continue;
            uint16_t height = kStandardHeightTwips;
            uint16_t flags = kRowFlags;
            if (own_height) {
                double points = sheet.row_height(row);
                height = points == 0 ? kStandardHeightTwips : static_cast<uint16_t>(std::lround(points * 20));
                flags |= points == 0 ? kRowHidden | kRowHeightSet : kRowHeightSet;
            }
            header(out, kRow, 16);
            out.u16(static_cast<uint16_t>(row - 1)).u16(first == 0 ? 0 : first - 1).u16(last).u16(height);
            out.u16(0).u16(0).u16(flags).u16(kGeneralXf);
        }
        for (uint32_t row = block; row < block_end; ++row) {
            if (row > sheet.row_limit())
                continue;
            encode_row(sheet, row, strings, formats, cells);
            write_cells(out, static_cast<uint16_t>(row - 1), cells);
        }
    }

    constexpr uint16_t kWindowFlags = 0x00B6;  // gridlines, headers, zeros, default colour, outline symbols
    constexpr uint16_t kSelectedAndShown = 0x0600;
    header(out, kWindow2, 18);
    out.u16(kWindowFlags | (active ? kSelectedAndShown : 0)).u16(0).u16(0).u16(0x40).u16(0).u16(0).u16(0).u32(0);
    write_eof(out);
    return out.take();
}

}  // namespace

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
