#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "frame/interfaces.h"

namespace varne {

class Clock;

// Named stopwatches, to the whole second of the local clock, and to the millisecond of the
// clock's steady count.
class Timing final : public _Timing {
public:
    explicit Timing(Clock& clock);

    Variant GetStartTime(const BStr& TimingName) override;
    Variant GetEndTime(const BStr& TimingName) override;
    int32_t GetLapsed(const BStr& TimingName) override;
    void StartTiming(const BStr& TimingName) override;
    void EndTiming(const BStr& TimingName) override;
    BStr LapsedString(const BStr& TimingName) override;
    // From the clock's steady count, so a change of the date-time does not move it.
    int32_t GetLapsedMilliseconds(const BStr& TimingName) override;

private:
    struct Stopwatch {
        BStr name;
        double start;
        double end;  // before the start while the stopwatch runs
        int64_t start_ms;
        std::optional<int64_t> end_ms;  // none while the stopwatch runs
    };

    int16_t find_timing(const BStr& name) const;

    Clock& m_clock;
    std::vector<Stopwatch> m_stopwatches;
    int16_t m_count = 0;
};

// Whole seconds as "D days HH:MM:SS", each part keeping the sign of the whole.
BStr lapsed_text(int32_t seconds);

}  // namespace varne
