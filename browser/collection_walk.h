#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "frame/automation_error.h"

namespace varne {

// The 16-bit counting of the members' walks over document collections: positions, match
// counters and the wait counter overflow as a 16-bit integer does, with the overflow error.
inline int16_t checked_add(int16_t a, int16_t b)
{
    int32_t sum = int32_t(a) + int32_t(b);
    if (sum > std::numeric_limits<int16_t>::max() || sum < std::numeric_limits<int16_t>::min())
        throw AutomationError::overflow();
    return static_cast<int16_t>(sum);
}

// Visits positions 0 to length - 1 as a 16-bit counting loop does and gives the position at
// which `leave` answered true, if any. A last position beyond 32,767 overflows before the
// first visit; a walk that passes 32,767 without leaving overflows when it steps on.
template <class Leave>
std::optional<int16_t> walk(int64_t length, Leave&& leave)
{
    constexpr int64_t kLastPosition = std::numeric_limits<int16_t>::max();
    int64_t last = length - 1;
    if (last > kLastPosition)
        throw AutomationError::overflow();
    for (int64_t position = 0; position <= last; ++position) {
        if (leave(static_cast<int16_t>(position)))
            return static_cast<int16_t>(position);
    }
    if (last == kLastPosition)
        throw AutomationError::overflow();
    return std::nullopt;
}

// The position of the match numbered `occurrence` (from 0) among the positions that `matches`
// accepts, counted with a 16-bit match counter.
template <class Matches>
std::optional<int16_t> find_occurrence(int64_t length, int16_t occurrence, Matches&& matches)
{
    int16_t counter = 0;
    return walk(length, [&](int16_t position) {
        if (!matches(position))
            return false;
        if (counter == occurrence)
            return true;
        counter = checked_add(counter, 1);
        return false;
    });
}

// The most items that a 16-bit walk visits without overflowing.
inline constexpr int64_t kMostWalkedItems = std::numeric_limits<int16_t>::max();

// A count of matches taken in one go, as a walk with a 16-bit match counter would have taken it:
// nothing (a collection of more items than a walk visits) overflows.
inline int16_t walked_count(std::optional<int64_t> count)
{
    if (!count || *count > kMostWalkedItems)
        throw AutomationError::overflow();
    return static_cast<int16_t>(*count);
}

}  // namespace varne
