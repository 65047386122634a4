#include "browser/common.h"

#include "platform/win32_api.h"

namespace varne::Common {

namespace {
constexpr char kButtonClass[] = "Button";
}

int16_t& wait_counter() noexcept
{
    thread_local int16_t counter = 0;
    return counter;
}

int16_t ClickWindowButton(Win32API& win32, int32_t WindowHandle, const BStr& Caption)
{
    if (WindowHandle == 0)
        return -2;
    win32.SetForegroundWindow(WindowHandle);
    win32.SetActiveWindow(WindowHandle);
    // The window functions take narrow text; this platform's code page is UTF-8.
    int32_t button = win32.FindWindowExA(WindowHandle, 0, kButtonClass, to_utf8(Caption));
    if (button == 0)
        return -1;
    win32.SetActiveWindow(button);
    win32.SendMessageA(button, Win32API::kBmClick, 0, 0);
    return 0;
}

}  // namespace varne::Common
