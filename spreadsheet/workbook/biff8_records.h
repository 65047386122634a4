#pragma once

#include "frame/text.h"
#include "spreadsheet/workbook/byte_writer.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

// Record identifiers, the workbook's fixed cell formats, and the writing of a record's parts,
// for each part of the BIFF8 Workbook stream.
namespace varne::workbook {

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
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
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

// Records longer than this go on in CONTINUE records.
constexpr size_t kMaxRecordBody = 8224;
constexpr size_t kRecordHeader = 4;

inline void header(ByteWriter& out, uint16_t id, uint16_t length)
{
    out.u16(id).u16(length);
}

inline void u16_record(ByteWriter& out, uint16_t id, uint16_t value)
{
    header(out, id, 2);
    out.u16(value);
}

// Records whose body is one 16-bit value, in the order given.
struct U16Record {
    uint16_t id;
    uint16_t value;
};
inline void u16_records(ByteWriter& out, std::initializer_list<U16Record> records)
{
    for (const U16Record& record : records)
        u16_record(out, record.id, record.value);
}

inline size_t begin_record(ByteWriter& out, uint16_t id)
{
    header(out, id, 0);
    return out.size();
}

inline void end_record(ByteWriter& out, size_t body_start)
{
    out.patch_u16(body_start - 2, static_cast<uint16_t>(out.size() - body_start));
}

// XLUnicodeString: 16-bit count, flags, then one or two bytes per unit.
inline void unicode_string(ByteWriter& out, std::u16string_view text)
{
    bool compressed = fits_one_byte(text);
    out.u16(static_cast<uint16_t>(text.size())).u8(compressed ? 0 : 1).units(text, compressed);
}

// ShortXLUnicodeString: the same with an 8-bit count.
inline void short_unicode_string(ByteWriter& out, std::u16string_view text)
{
    bool compressed = fits_one_byte(text);
    out.u8(static_cast<uint8_t>(text.size())).u8(compressed ? 0 : 1).units(text, compressed);
}

inline void write_bof(ByteWriter& out, uint16_t substream)
{
    header(out, kBof, 16);
    out.u16(kBiff8).u16(substream).u16(0x0DBB).u16(0x07CC).u32(0x00000009).u32(0x00000006);
}

inline void write_eof(ByteWriter& out)
{
    header(out, kEof, 0);
}

}  // namespace varne::workbook
