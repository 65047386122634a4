#include "records/timing.h"

#include <limits>
#include <string>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "platform/clock.h"

namespace varne {

namespace {

int32_t seconds_between(double from, double to)
{
    int64_t difference = automation_date_seconds(to) - automation_date_seconds(from);
    if (difference < std::numeric_limits<int32_t>::min() || difference > std::numeric_limits<int32_t>::max())
        throw AutomationError::overflow();
    return static_cast<int32_t>(difference);
}

// The picture "00": at least two digits, a minus sign in front of them.
std::string two_digits(int16_t value)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (digits.size() < 2)
        digits.insert(0, 1, '0');
    return value < 0 ? "-" + digits : digits;
}

}  // namespace

Timing::Timing(Clock& clock) : m_clock(clock) {}

int16_t Timing::find_timing(const BStr& name) const
{
    for (int16_t index = 0; index < m_count; ++index) {
        if (m_stopwatches[static_cast<size_t>(index)].name == name)
            return index;
    }
    return -1;
}

Variant Timing::GetStartTime(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0)
        return int16_t(-1);
    return Variant::Date{m_stopwatches[static_cast<size_t>(index)].start};
}

Variant Timing::GetEndTime(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0)
        return int16_t(-1);
    return Variant::Date{m_stopwatches[static_cast<size_t>(index)].end};
}

int32_t Timing::GetLapsed(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0)
        return -1;
    const auto& stopwatch = m_stopwatches[static_cast<size_t>(index)];
    int32_t lapsed = seconds_between(stopwatch.start, stopwatch.end);
    if (lapsed < 0)
        lapsed = seconds_between(stopwatch.start, m_clock.now());
    return lapsed;
}

void Timing::StartTiming(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0) {
        if (m_count == std::numeric_limits<int16_t>::max())
            throw AutomationError::overflow();
        m_stopwatches.push_back({TimingName, 0, 0, 0, std::nullopt});
        index = m_count++;
    }
    auto& stopwatch = m_stopwatches[static_cast<size_t>(index)];
    stopwatch.start = m_clock.now();
    stopwatch.end = automation_date_from_seconds(automation_date_seconds(stopwatch.start) - 1);
    stopwatch.start_ms = m_clock.steady_milliseconds();
    stopwatch.end_ms.reset();
}

void Timing::EndTiming(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0)
        return;
    auto& stopwatch = m_stopwatches[static_cast<size_t>(index)];
    stopwatch.end = m_clock.now();
    stopwatch.end_ms = m_clock.steady_milliseconds();
}

BStr Timing::LapsedString(const BStr& TimingName)
{
    if (find_timing(TimingName) < 0)
        return u"<unknown timing>";
    return lapsed_text(GetLapsed(TimingName));
}

int32_t Timing::GetLapsedMilliseconds(const BStr& TimingName)
{
    int16_t index = find_timing(TimingName);
    if (index < 0)
        return -1;
    const auto& stopwatch = m_stopwatches[static_cast<size_t>(index)];
    int64_t lapsed = stopwatch.end_ms.value_or(m_clock.steady_milliseconds()) - stopwatch.start_ms;
    if (lapsed > std::numeric_limits<int32_t>::max())
        throw AutomationError::overflow();
    return static_cast<int32_t>(lapsed);
}

BStr lapsed_text(int32_t seconds)
{
    auto days = static_cast<int16_t>(seconds / 86400);
    int32_t rest = seconds % 86400;
    auto hours = static_cast<int16_t>(rest / 3600);
    rest %= 3600;
    auto minutes = static_cast<int16_t>(rest / 60);
    auto secs = static_cast<int16_t>(rest % 60);
    return from_utf8(std::to_string(days) + " days " + two_digits(hours) + ":" + two_digits(minutes) + ":" +
                     two_digits(secs));
}

}  // namespace varne
