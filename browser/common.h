#pragma once

#include <cstdint>

#include "frame/text.h"

namespace varne {
class Win32API;
}

namespace varne::Common {

// Milliseconds slept by the wait loop that runs on this thread. The readiness waits and the
// popup search share it; each loop sets it to 0 before its first check.
int16_t& wait_counter() noexcept;

// Brings the window forward and clicks its first direct child of class "Button" whose caption
// is `Caption`. Returns 0 when the click message was sent, -1 when there is no such button,
// -2 for a window handle of 0 (no window function is called then).
int16_t ClickWindowButton(Win32API& win32, int32_t WindowHandle, const BStr& Caption);

}  // namespace varne::Common
