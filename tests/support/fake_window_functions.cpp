#include "tests/support/fake_window_functions.h"

#include <algorithm>

namespace varne::testing {

void FakeWindowFunctions::open_popup(int32_t owner, int32_t handle,
                                     const std::vector<std::pair<std::string, int32_t>>& buttons,
                                     int32_t opens_at_check)
{
    Popup popup{owner, handle, {}, opens_at_check};
    for (const auto& [caption, button] : buttons)
        popup.children.push_back({button, "Button", caption});
    m_popups.push_back(std::move(popup));
}

void FakeWindowFunctions::add_child(int32_t popup, Child child)
{
    for (auto& candidate : m_popups) {
        if (candidate.handle == popup)
            candidate.children.push_back(std::move(child));
    }
}

bool FakeWindowFunctions::is_open(int32_t popup) const
{
    return std::any_of(m_popups.begin(), m_popups.end(), [&](const Popup& candidate) {
        return candidate.handle == popup && !candidate.closed && candidate.opens_at_check <= m_popup_checks;
    });
}

FakeWindowFunctions::Popup* FakeWindowFunctions::popup_with_child(int32_t child)
{
    for (auto& popup : m_popups) {
        for (const auto& candidate : popup.children) {
            if (candidate.handle == child)
                return &popup;
        }
    }
    return nullptr;
}

int32_t FakeWindowFunctions::GetLastActivePopup(int32_t window)
{
    m_calls.push_back({"GetLastActivePopup", {window}, {}});
    ++m_popup_checks;
    for (const auto& [owner, answer] : m_forced_answers) {
        if (owner == window)
            return answer;
    }
    for (auto popup = m_popups.rbegin(); popup != m_popups.rend(); ++popup) {
        if (popup->owner == window && !popup->closed && popup->opens_at_check <= m_popup_checks)
            return popup->handle;
    }
    return window;
}

int32_t FakeWindowFunctions::SetForegroundWindow(int32_t window)
{
    m_calls.push_back({"SetForegroundWindow", {window}, {}});
    return 1;
}

int32_t FakeWindowFunctions::SetActiveWindow(int32_t window)
{
    m_calls.push_back({"SetActiveWindow", {window}, {}});
    return 0;
}

int32_t FakeWindowFunctions::FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                                           const std::string& window_text)
{
    m_calls.push_back({"FindWindowExA", {parent, child_after}, {class_name, window_text}});
    for (const auto& popup : m_popups) {
        if (popup.handle != parent || popup.closed)
            continue;
        bool past_start = child_after == 0;
        for (const auto& child : popup.children) {
            if (past_start && child.class_name == class_name && child.text == window_text)
                return child.handle;
            past_start = past_start || child.handle == child_after;
        }
    }
    return 0;
}

intptr_t FakeWindowFunctions::SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    m_calls.push_back({"SendMessageA", {window, message, static_cast<int64_t>(wparam), lparam}, {}});
    if (message == Win32API::kBmClick) {
        m_clicked.push_back(window);
        if (auto* popup = popup_with_child(window))
            popup->closed = true;
    }
    return 0;
}

}  // namespace varne::testing
