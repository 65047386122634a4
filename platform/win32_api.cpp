#include "platform/win32_api.h"

#include "platform/clock.h"

namespace varne {

int32_t Win32API::GetLastActivePopup(int32_t window)
{
    return m_windows.GetLastActivePopup(window);
}

int32_t Win32API::SetForegroundWindow(int32_t window)
{
    return m_windows.SetForegroundWindow(window);
}

int32_t Win32API::SetActiveWindow(int32_t window)
{
    return m_windows.SetActiveWindow(window);
}

int32_t Win32API::FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                                const std::string& window_text)
{
    return m_windows.FindWindowExA(parent, child_after, class_name, window_text);
}

intptr_t Win32API::SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return m_windows.SendMessageA(window, message, wparam, lparam);
}

void Win32API::Sleep(int32_t milliseconds)
{
    m_clock.sleep(milliseconds);
}

}  // namespace varne
