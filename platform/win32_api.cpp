#include "platform/win32_api.h"

#include "frame/automation_error.h"
#include "platform/clock.h"
#include "platform/services.h"

namespace varne::Win32API {

namespace {

WindowFunctions& windows()
{
    if (!services().windows)
        throw AutomationError(error_number::kUnspecified, "No window functions are available on this platform");
    return *services().windows;
}

}  // namespace

int32_t GetLastActivePopup(int32_t window)
{
    return windows().GetLastActivePopup(window);
}

int32_t SetForegroundWindow(int32_t window)
{
    return windows().SetForegroundWindow(window);
}

int32_t SetActiveWindow(int32_t window)
{
    return windows().SetActiveWindow(window);
}

int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                      const std::string& window_text)
{
    return windows().FindWindowExA(parent, child_after, class_name, window_text);
}

intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return windows().SendMessageA(window, message, wparam, lparam);
}

void Sleep(int32_t milliseconds)
{
    services().clock->sleep(milliseconds);
}

}  // namespace varne::Win32API
