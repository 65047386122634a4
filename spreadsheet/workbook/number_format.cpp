#include "spreadsheet/workbook/number_format.h"

#include "frame/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace varne::workbook {

namespace {

struct BuiltinFormat {
    uint16_t id;
    std::u16string_view format;
};

// The built-in formats whose picture is the same in every locale.
constexpr BuiltinFormat kBuiltinFormats[] = {
    {1, u"0"},         {2, u"0.00"},        {3, u"#,##0"},
    {4, u"#,##0.00"},  {9, u"0%"},          {10, u"0.00%"},
    {11, u"0.00E+00"}, {12, u"# ?/?"},      {13, u"# ?\?/?\?"},
    {14, u"m/d/yyyy"}, {15, u"d-mmm-yy"},   {16, u"d-mmm"},
    {17, u"mmm-yy"},   {18, u"h:mm AM/PM"}, {19, u"h:mm:ss AM/PM"},
    {20, u"h:mm"},     {21, u"h:mm:ss"},    {22, u"m/d/yyyy h:mm"},
    {45, u"mm:ss"},    {46, u"[h]:mm:ss"},  {47, u"mm:ss.0"},
    {48, u"##0.0E+0"}, {49, u"@"},
};

// Advance widths of Arial (and Liberation Sans) for U+0020..U+007E, in thousandths of the em.
constexpr uint16_t kAsciiWidths[] = {
    278,  278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // space to /
    556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0 to ?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @ to O
    667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // P to _
    333,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // ` to o
    556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,  // p to ~
};
constexpr double kDigitWidth = 556;

bool is_wide(char16_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6);
}

bool is_date_letter(char16_t c)
{
    switch (c) {
    case u'y':
    case u'Y':
    case u'm':
    case u'M':
    case u'd':
    case u'D':
    case u'h':
    case u'H':
    case u's':
    case u'S':
        return true;
    default:
        return false;
    }
}

char16_t lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

// The first section of a format (the one for positive numbers), as it would show.
std::u16string expand_picture(std::u16string_view format)
{
    std::u16string out;
    for (size_t i = 0; i < format.size();) {
        char16_t c = format[i];
        if (c == u';')
            break;
        if (c == u'"') {
            size_t end = format.find(u'"', i + 1);
            end = end == std::u16string_view::npos ? format.size() : end;
            out.append(format.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == u'\\' && i + 1 < format.size()) {
            out += format[i + 1];
            i += 2;
        } else if ((c == u'_' || c == u'*') && i + 1 < format.size()) {
            out += c == u'_' ? u" " : u"";
            i += 2;
        } else if (c == u'[') {
            size_t end = format.find(u']', i);
            end = end == std::u16string_view::npos ? format.size() : end;
            std::u16string_view inside = format.substr(i + 1, end - i - 1);
            if (!inside.empty() && is_date_letter(inside[0]))
                out.append(std::max<size_t>(inside.size(), 2), u'0');  // elapsed [h], [mm]
            i = end + 1;
        } else if (equals_ignoring_case(format.substr(i, 5), u"AM/PM")) {
            out += u"PM";
            i += 5;
        } else if (equals_ignoring_case(format.substr(i, 3), u"A/P")) {
            out += u"P";
            i += 3;
        } else if (is_date_letter(c)) {
            size_t run = 1;
            while (i + run < format.size() && lower(format[i + run]) == lower(c))
                ++run;
            char16_t letter = lower(c);
            if (letter == u'm' && run >= 4)
                out += run == 5 ? u"S" : u"September";
            else if (letter == u'm' && run == 3)
                out += u"Sep";
            else if (letter == u'd' && run >= 4)
                out += u"Wednesday";
            else if (letter == u'd' && run == 3)
                out += u"Wed";
            else if (letter == u'y')
                out += run <= 2 ? u"00" : u"0000";
            else
                out.append(std::max<size_t>(run, 2), u'0');
            i += run;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

bool is_date_format(std::u16string_view format)
{
    std::u16string_view section = format.substr(0, format.find(u';'));
    bool quoted = false;
    for (size_t i = 0; i < section.size(); ++i) {
        if (section[i] == u'"')
            quoted = !quoted;
        else if (!quoted && section[i] == u'[')
            i = std::min(section.find(u']', i), section.size());
        else if (!quoted && is_date_letter(section[i]))
            return true;
    }
    return false;
}

std::u16string general_number(double number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10G", number);
    return from_utf8(text);
}

// A number under a numeric picture: its digits to the picture's decimals, grouped in
// thousands when the picture groups, with the picture's percent sign and literal texts.
std::u16string formatted_number(double number, std::u16string_view format)
{
    std::u16string picture = expand_picture(format);
    bool percent = picture.find(u'%') != std::u16string::npos;
    size_t point = picture.find(u'.');
    int decimals = 0;
    for (size_t i = point == std::u16string::npos ? picture.size() : point + 1;
         i < picture.size() && (picture[i] == u'0' || picture[i] == u'#' || picture[i] == u'?'); ++i)
        ++decimals;
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(percent ? number * 100 : number));
    std::u16string digits = from_utf8(text);
    if (picture.find(u',') != std::u16string::npos) {
        size_t integer_end = std::min(digits.find(u'.'), digits.size());
        std::u16string grouped;
        for (size_t i = 0; i < digits.size(); ++i) {
            if (i > 0 && i < integer_end && (integer_end - i) % 3 == 0)
                grouped += u',';
            grouped += digits[i];
        }
        digits = std::move(grouped);
    }
    std::u16string literal;
    std::copy_if(picture.begin(), picture.end(), std::back_inserter(literal),
                 [](char16_t c) { return c != u'0' && c != u'#' && c != u'?' && c != u',' && c != u'.' && c != u'%'; });
    return (number < 0 ? u"-" : u"") + digits + (percent ? u"%" : u"") + literal;
}

std::u16string_view default_date_format(double serial)
{
    if (serial > -1 && serial < 1)
        return u"h:mm:ss";
    return serial == std::trunc(serial) ? u"m/d/yyyy" : u"m/d/yyyy h:mm";
}

}  // namespace

std::optional<uint16_t> builtin_format_id(std::u16string_view format)
{
    if (equals_ignoring_case(format, u"General"))
        return 0;
    for (const BuiltinFormat& builtin : kBuiltinFormats) {
        if (builtin.format == format)
            return builtin.id;
    }
    return std::nullopt;
}

std::u16string displayed_text(const CellValueView& value, std::u16string_view format)
{
    bool general = equals_ignoring_case(format, u"General");
    if (auto* text = std::get_if<std::u16string_view>(&value))
        return std::u16string(*text);
    if (auto* boolean = std::get_if<bool>(&value))
        return *boolean ? u"TRUE" : u"FALSE";
    if (auto* date = std::get_if<DateTime>(&value))
        return expand_picture(general ? default_date_format(date->serial) : format);
    if (auto* number = std::get_if<double>(&value)) {
        if (general || format == u"@")
            return general_number(*number);
        return is_date_format(format) ? expand_picture(format) : formatted_number(*number, format);
    }
    return {};
}

double text_width(std::u16string_view text)
{
    double units = 0;
    for (char16_t c : text) {
        if (c >= 0x20 && c <= 0x7E)
            units += kAsciiWidths[c - 0x20];
        else if (is_wide(c))
            units += 1000;
        else if (c >= 0x20)
            units += 600;
    }
    return units / kDigitWidth;
}

}  // namespace varne::workbook
