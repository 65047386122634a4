#pragma once

#include "platform/clock.h"

namespace varne {

// The clock of the system that this build is for; platform/posix/ and platform/windows/ each define
// its members. POSIX: the local time, the sleep, and the month names of the C library in the time
// locale that the host program has set ("Sep" in the C locale). Windows: the local time, Sleep, and
// the month names of the user's regional settings.
class SystemClock final : public Clock {
public:
    double now() override;
    int64_t steady_milliseconds() override;
    void sleep(int32_t milliseconds) override;
    BStr month_abbreviation(int month) override;
};

}  // namespace varne
