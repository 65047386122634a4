#include "frame/automation_date.h"

#include <cmath>

namespace varne {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

const int64_t kEpochOffsetDays = days_from_civil(1899, 12, 30);

}  // namespace

int64_t automation_date_seconds(double date)
{
    double whole_days = std::trunc(date);
    auto seconds_of_day = static_cast<int64_t>(std::llround(std::fabs(date - whole_days) * kSecondsPerDay));
    return static_cast<int64_t>(whole_days) * kSecondsPerDay + seconds_of_day;
}

double automation_date_from_seconds(int64_t seconds)
{
    int64_t days = floor_div(seconds, kSecondsPerDay);
    double fraction = static_cast<double>(seconds - days * kSecondsPerDay) / kSecondsPerDay;
    // Before the epoch the whole part counts backwards while the time of day counts forwards.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

double to_automation_date(const CivilTime& time)
{
    int64_t days = days_from_civil(time.year, static_cast<unsigned>(time.month), static_cast<unsigned>(time.day)) -
                   kEpochOffsetDays;
    return automation_date_from_seconds(days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second);
}

CivilTime to_civil_time(double date)
{
    int64_t total = automation_date_seconds(date);
    int64_t days = floor_div(total, kSecondsPerDay);
    int64_t time_of_day = total - days * kSecondsPerDay;
    CivilTime civil;
    civil_from_days(days + kEpochOffsetDays, civil.year, civil.month, civil.day);
    civil.hour = static_cast<int>(time_of_day / 3600);
    civil.minute = static_cast<int>(time_of_day % 3600 / 60);
    civil.second = static_cast<int>(time_of_day % 60);
    return civil;
}

}  // namespace varne
