#include "records/log_time.h"

#include <cstdio>

#include "frame/automation_date.h"
#include "platform/clock.h"
#include "platform/services.h"

namespace varne {

namespace {

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
    return ascii(clock) + services().clock->month_abbreviation(time.month) + ascii(year);
}

}  // namespace varne
