#pragma once

#include <cstdint>
#include <string>

namespace varne {

// The window functions that the popup search uses. The browser adapter answers them from
// the page's JavaScript dialogs; tests use a recording fake.
class WindowFunctions {
public:
    virtual ~WindowFunctions() = default;
    // The most recently active popup owned by the window; the window itself while it owns none.
    virtual int32_t GetLastActivePopup(int32_t window) = 0;
    virtual int32_t SetForegroundWindow(int32_t window) = 0;
    virtual int32_t SetActiveWindow(int32_t window) = 0;
    // The first direct child of `parent` after `child_after` with that class and window text, or 0.
    virtual int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                                  const std::string& window_text) = 0;
    virtual intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

class Clock;

// The operating system's functions as the library calls them, over the window functions and the
// clock that it is made with.
class Win32API {
public:
    // BM_CLICK, the button-click message; spelt so that it never meets the macro of <windows.h>.
    static constexpr uint32_t kBmClick = 0xF5;

    Win32API(WindowFunctions& windows, Clock& clock) : m_windows(windows), m_clock(clock) {}

    int32_t GetLastActivePopup(int32_t window);
    int32_t SetForegroundWindow(int32_t window);
    int32_t SetActiveWindow(int32_t window);
    int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                          const std::string& window_text);
    intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam);
    void Sleep(int32_t milliseconds);

private:
    WindowFunctions& m_windows;
    Clock& m_clock;
};

}  // namespace varne
