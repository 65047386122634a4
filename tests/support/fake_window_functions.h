#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32_api.h"

namespace varne::testing {

// Window functions over scripted popups: a popup of an owner window opens after a number of
// checks, holds child windows (buttons) and closes when one of its buttons is clicked. Every
// call is recorded with its arguments.
class FakeWindowFunctions final : public WindowFunctions {
public:
    struct Child {
        int32_t handle;
        std::string class_name;
        std::string text;
    };
    struct Popup {
        int32_t owner;
        int32_t handle;
        std::vector<Child> children;
        int32_t opens_at_check;  // the owner's check (from 1) that first sees it
        bool closed = false;
    };
    struct Call {
        std::string function;
        std::vector<int64_t> numbers;
        std::vector<std::string> texts;
        friend bool operator==(const Call&, const Call&) = default;
    };

    // A dialog with push buttons of class "Button", seen from the owner's check `opens_at_check` on.
    void open_popup(int32_t owner, int32_t handle, const std::vector<std::pair<std::string, int32_t>>& buttons,
                    int32_t opens_at_check = 1);
    void add_child(int32_t popup, Child child);
    // Every later check of the owner answers this handle, whatever popups there are.
    void answer_popup_checks(int32_t owner, int32_t answer) { m_forced_answers.push_back({owner, answer}); }

    const std::vector<Call>& calls() const { return m_calls; }
    int32_t popup_checks() const { return m_popup_checks; }
    // The buttons that got the click message, in order.
    const std::vector<int32_t>& clicked() const { return m_clicked; }
    bool is_open(int32_t popup) const;

    int32_t GetLastActivePopup(int32_t window) override;
    int32_t SetForegroundWindow(int32_t window) override;
    int32_t SetActiveWindow(int32_t window) override;
    int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                          const std::string& window_text) override;
    intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;

private:
    Popup* popup_with_child(int32_t child);

    std::vector<Popup> m_popups;
    std::vector<std::pair<int32_t, int32_t>> m_forced_answers;
    std::vector<Call> m_calls;
    std::vector<int32_t> m_clicked;
    int32_t m_popup_checks = 0;
};

}  // namespace varne::testing
