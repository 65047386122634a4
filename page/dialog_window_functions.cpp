#include "page/dialog_window_functions.h"

#include <cctype>

#include "page/browser_registry.h"

namespace varne::page {

namespace {

// Captions are compared as the window functions do: case ignored, '&' accelerator marks dropped.
std::string caption_key(const std::string& caption)
{
    std::string key;
    for (char c : caption) {
        if (c != '&')
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

}  // namespace

int32_t DialogWindowFunctions::GetLastActivePopup(int32_t window)
{
    auto [page, offset] = browser_registry().find(window);
    if (!page || offset != 0)
        return 0;
    // A browser that has died owns no popup and never will: say so at once, as every member does.
    page->check_alive();
    if (page->state().dialog())
        return window + kDialogOffset;
    return window;
}

int32_t DialogWindowFunctions::SetForegroundWindow(int32_t window)
{
    return browser_registry().find(window).first ? 1 : 0;
}

int32_t DialogWindowFunctions::SetActiveWindow(int32_t window)
{
    return browser_registry().find(window).first ? window : 0;
}

int32_t DialogWindowFunctions::FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                                             const std::string& window_text)
{
    auto [page, offset] = browser_registry().find(parent);
    if (!page || offset != kDialogOffset || child_after != 0 || caption_key(class_name) != "button")
        return 0;
    auto dialog = page->state().dialog();
    if (!dialog)
        return 0;
    int32_t window = parent - kDialogOffset;
    const std::string caption = caption_key(window_text);
    if (caption == "ok")
        return window + kOkButtonOffset;
    if (caption == "cancel" && dialog->type != "alert")
        return window + kCancelButtonOffset;
    return 0;
}

intptr_t DialogWindowFunctions::SendMessageA(int32_t window, uint32_t message, uintptr_t, intptr_t)
{
    auto [page, offset] = browser_registry().find(window);
    if (!page || message != Win32API::kBmClick || (offset != kOkButtonOffset && offset != kCancelButtonOffset))
        return 0;
    // OK on a prompt takes what its field holds; nobody types into it here, so that is its default.
    if (auto dialog = page->state().dialog())
        page->delegate().answer_dialog(offset == kOkButtonOffset, dialog->default_prompt);
    return 0;
}

}  // namespace varne::page
