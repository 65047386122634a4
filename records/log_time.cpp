#include "records/log_time.h"

#include <cstdio>
#include <ctime>
#include <cwchar>

#include "frame/automation_date.h"

namespace varne {

namespace {

// The locale's abbreviated month name, taken wide so that any locale charset converts exactly.
BStr month_abbreviation(int month)
{
    std::tm fields{};
    fields.tm_mon = month - 1;
    fields.tm_mday = 1;
    fields.tm_year = 100;
    wchar_t name[64];
    size_t length = std::wcsftime(name, sizeof name / sizeof name[0], L"%b", &fields);
    BStr out;
    for (size_t i = 0; i < length; ++i)
        append_utf16(out, static_cast<char32_t>(name[i]));
    return out;
}

BStr ascii(const char* text)
{
    return BStr(text, text + std::char_traits<char>::length(text));
}

}  // namespace

BStr log_time_text(double date)
{
    CivilTime time = to_civil_time(date);
    char clock[48];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d %02d/", time.hour, time.minute, time.second, time.day);
    char year[24];
    std::snprintf(year, sizeof year, "/%04d", time.year);
    return ascii(clock) + month_abbreviation(time.month) + ascii(year);
}

}  // namespace varne
