#pragma once

#include <cstdint>

namespace varne {

// The present local date-time and the sleep of the calling thread.
class Clock {
public:
    virtual ~Clock() = default;
    // The present local date-time to the whole second, as an automation date.
    virtual double now() = 0;
    // Blocks the calling thread for the given milliseconds.
    virtual void sleep(int32_t milliseconds) = 0;
};

}  // namespace varne
