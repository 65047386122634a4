#include "platform/windows/system_clock.h"

#include <windows.h>

#include "frame/automation_date.h"

namespace varne {

double WindowsClock::now()
{
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return to_automation_date({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond});
}

int64_t WindowsClock::steady_milliseconds()
{
    return static_cast<int64_t>(GetTickCount64());
}

void WindowsClock::sleep(int32_t milliseconds)
{
    if (milliseconds > 0)
        Sleep(static_cast<DWORD>(milliseconds));
}

BStr WindowsClock::month_abbreviation(int month)
{
    wchar_t name[80];
    const LCTYPE field = LOCALE_SABBREVMONTHNAME1 + static_cast<LCTYPE>(month - 1);
    int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, field, name, sizeof name / sizeof name[0]);
    // The length counts the terminating NUL; a failure (0) gives an empty name.
    return length > 0 ? BStr(name, name + length - 1) : BStr();
}

}  // namespace varne
