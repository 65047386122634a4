#pragma once

#include <cstdint>

#include "frame/text.h"

namespace varne {

// The present local date-time, a steady count of milliseconds, the sleep of the calling thread and the names of the
// months.
class Clock {
public:
    virtual ~Clock() = default;
    // The present local date-time to the whole second, as an automation date.
    virtual double now() = 0;
    // Milliseconds from a fixed, unspecified start; never goes back, whatever the date-time does.
    virtual int64_t steady_milliseconds() = 0;
    // Blocks the calling thread for the given milliseconds.
    virtual void sleep(int32_t milliseconds) = 0;
    // The abbreviated name of the month (1 to 12) as the user's date settings write it.
    virtual BStr month_abbreviation(int month) = 0;
};

}  // namespace varne
