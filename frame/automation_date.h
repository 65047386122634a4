#pragma once

#include <cstdint>

namespace varne {

// A local date-time broken into its fields, to the whole second.
struct CivilTime {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;  // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The automation date: days since 30 December 1899 at midnight, the time of day as the
// fraction. Before that day the whole part counts backwards while the fraction still
// counts forwards (-1.25 is 29 December 1899 at 06:00), as automation clients expect.
double to_automation_date(const CivilTime& time);
CivilTime to_civil_time(double date);

// Whole seconds since 30 December 1899 at midnight; each date is taken to the whole second.
int64_t automation_date_seconds(double date);
double automation_date_from_seconds(int64_t seconds);

}  // namespace varne
