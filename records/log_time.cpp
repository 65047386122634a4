#include "records/log_time.h"

#include <cstdio>

#include "frame/automation_date.h"
#include "platform/clock.h"

namespace varne {

namespace {

BStr ascii(const char* text)
{
    return BStr(text, text + std::char_traits<char>::length(text));
}

}  // namespace

BStr log_time_text(double date, Clock& clock)
{
    CivilTime time = to_civil_time(date);
    char time_and_day[48];
    std::snprintf(time_and_day, sizeof time_and_day, "%02d:%02d:%02d %02d/", time.hour, time.minute, time.second,
                  time.day);
    char year[24];
    std::snprintf(year, sizeof year, "/%04d", time.year);
    return ascii(time_and_day) + clock.month_abbreviation(time.month) + ascii(year);
}

}  // namespace varne
