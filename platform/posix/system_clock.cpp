#include "platform/system_clock.h"

#include <chrono>
#include <ctime>
#include <cwchar>
#include <thread>

#include "frame/automation_date.h"
#include "platform/system.h"

namespace varne {

double SystemClock::now()
{
    std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return to_automation_date(
        {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

int64_t SystemClock::steady_milliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SystemClock::sleep(int32_t milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Taken wide, so that any locale charset converts exactly.
BStr SystemClock::month_abbreviation(int month)
{
    std::tm fields{};
    fields.tm_mon = month - 1;
    fields.tm_mday = 1;
    fields.tm_year = 100;
    wchar_t name[64];
    size_t length = std::wcsftime(name, sizeof name / sizeof name[0], L"%b", &fields);
    BStr out;
    for (size_t i = 0; i < length; ++i)
        append_utf16(out, static_cast<char32_t>(name[i]));
    return out;
}

Clock& system_clock()
{
    static SystemClock clock;
    return clock;
}

}  // namespace varne
