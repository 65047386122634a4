#pragma once

#include <cstdint>

#include "frame/automation_date.h"
#include "platform/clock.h"

namespace varne::testing {

// A clock that moves only when told; a sleep moves it on and is counted. The steady count of
// milliseconds moves with the sleeps and the advances, never back.
class ManualClock final : public Clock {
public:
    explicit ManualClock(CivilTime start = {2026, 12, 7, 9, 30, 0})
        : m_seconds(automation_date_seconds(to_automation_date(start)))
    {
    }

    double now() override { return automation_date_from_seconds(m_seconds); }
    int64_t steady_milliseconds() override { return m_steady_ms; }
    void sleep(int32_t milliseconds) override
    {
        ++m_sleeps;
        m_slept_ms += milliseconds;
        m_steady_ms += milliseconds;
        m_seconds += (m_pending_ms + milliseconds) / 1000;
        m_pending_ms = (m_pending_ms + milliseconds) % 1000;
    }

    // The C locale's names, the same on every system.
    BStr month_abbreviation(int month) override
    {
        static constexpr const char16_t* kNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                     u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
        return kNames[month - 1];
    }

    void advance(int64_t seconds)
    {
        m_seconds += seconds;
        if (seconds > 0)
            m_steady_ms += seconds * 1000;
    }
    void advance_milliseconds(int64_t milliseconds) { m_steady_ms += milliseconds; }
    // Sets the date-time only, as a change of the system's clock does: the steady count stays.
    void set(CivilTime time) { m_seconds = automation_date_seconds(to_automation_date(time)); }
    int64_t sleeps() const { return m_sleeps; }
    int64_t slept_ms() const { return m_slept_ms; }

private:
    int64_t m_seconds;
    int64_t m_pending_ms = 0;
    int64_t m_steady_ms = 0;
    int64_t m_sleeps = 0;
    int64_t m_slept_ms = 0;
};

}  // namespace varne::testing
