#include "platform/posix/system_clock.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "frame/automation_date.h"

namespace varne {

double SystemClock::now()
{
    std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return to_automation_date(
        {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

void SystemClock::sleep(int32_t milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace varne
