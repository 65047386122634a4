#include "platform/system_clock.h"

#include <windows.h>

#include "frame/automation_date.h"
#include "platform/system.h"

namespace varne {

double SystemClock::now()
{
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return to_automation_date({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond});
}

int64_t SystemClock::steady_milliseconds()
{
    return static_cast<int64_t>(GetTickCount64());
}

void SystemClock::sleep(int32_t milliseconds)
{
    if (milliseconds > 0)
        Sleep(static_cast<DWORD>(milliseconds));
}

BStr SystemClock::month_abbreviation(int month)
{
    wchar_t name[80];
    const LCTYPE field = LOCALE_SABBREVMONTHNAME1 + static_cast<LCTYPE>(month - 1);
    int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, field, name, sizeof name / sizeof name[0]);
    // The length counts the terminating NUL; a failure (0) gives an empty name.
    return length > 0 ? BStr(name, name + length - 1) : BStr();
}

Clock& system_clock()
{
    static SystemClock clock;
    return clock;
}

}  // namespace varne
