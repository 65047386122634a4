#pragma once

#include "platform/clock.h"

namespace varne {

// The operating system's local time and sleep, and the C library's month names.
class SystemClock final : public Clock {
public:
    double now() override;
    int64_t steady_milliseconds() override;
    void sleep(int32_t milliseconds) override;
    // In the time locale that the host program has set ("Sep" in the C locale).
    BStr month_abbreviation(int month) override;
};

}  // namespace varne
