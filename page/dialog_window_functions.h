#pragma once

#include <cstdint>
#include <string>

#include "platform/win32_api.h"

namespace varne::page {

// The window functions answered from the pages' JavaScript dialogs: while a dialog is open,
// the browser window owns a popup (its handle + 1) with an "OK" button (+ 2) and, but for an
// alert, a "Cancel" button (+ 3); the click message on a button answers the dialog.
class DialogWindowFunctions final : public WindowFunctions {
public:
    int32_t GetLastActivePopup(int32_t window) override;
    int32_t SetForegroundWindow(int32_t window) override;
    int32_t SetActiveWindow(int32_t window) override;
    int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                          const std::string& window_text) override;
    intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
};

}  // namespace varne::page
