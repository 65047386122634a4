#pragma once

#include "platform/clock.h"

namespace varne {

// The system's local time, Sleep, and the month names of the user's regional settings.
class WindowsClock final : public Clock {
public:
    double now() override;
    int64_t steady_milliseconds() override;
    void sleep(int32_t milliseconds) override;
    BStr month_abbreviation(int month) override;
};

}  // namespace varne
