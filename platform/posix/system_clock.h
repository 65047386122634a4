#pragma once

#include "platform/clock.h"

namespace varne {

// The operating system's local time and sleep.
class SystemClock final : public Clock {
public:
    double now() override;
    void sleep(int32_t milliseconds) override;
};

}  // namespace varne
