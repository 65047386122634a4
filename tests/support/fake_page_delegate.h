#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "page/page_delegate.h"
#include "page/page_state.h"

namespace varne::testing {

// A scripted browser page under the page model: it records the tasks asked of it, answers them as
// the test says, and feeds the page state the events a browser would send.
class FakePageDelegate final : public page::PageDelegate {
public:
    struct Call {
        std::string handle;
        std::string declaration;
        std::vector<page::CallArgument> arguments;
    };
    using CallAnswer = std::function<std::optional<page::RemoteValue>(const Call&)>;

    explicit FakePageDelegate(page::PageState& state) : m_state(state) {}

    // Events as a browser sends them: a document answered with `status`, committed in the top frame
    // and loaded, with its realm.
    void load_top_document(const std::string& url, int32_t status = 200);
    // A JavaScript dialog opens in the page.
    void open_dialog(const std::string& type, const std::string& message, const std::string& default_prompt = {});
    page::PageState& state() { return m_state; }

    // Scripting.
    page::NavigationStart next_navigation;
    CallAnswer answer_call = [](const Call&) { return page::RemoteValue{}; };
    std::optional<std::string> lost;

    // Recording.
    std::vector<std::pair<std::string, std::string>> navigations;  // frame, address
    std::vector<Call> calls;
    std::vector<std::pair<std::string, std::string>> evaluated;  // realm, expression
    std::vector<std::pair<bool, std::string>> dialog_answers;  // accepted, prompt text
    std::vector<std::string> released;
    bool closed = false;

    const std::string& main_frame_id() const override { return m_main_frame; }
    page::NavigationStart navigate(const std::string& frame_id, const std::string& url) override;
    // Gives a handle of the realm's document (or window) object.
    page::RemoteValue evaluate(const std::string& realm_id, const std::string& expression, bool by_value) override;
    std::optional<page::RemoteValue> call_function(const std::string& handle, const std::string& declaration,
                                                   const std::vector<page::CallArgument>& arguments, bool by_value,
                                                   bool user_gesture) override;
    std::string frame_of(const std::string& element_handle) override { return element_handle + "-frame"; }
    void release(const std::string& handle) noexcept override { released.push_back(handle); }
    // Closes the open dialog, as the browser reports it.
    bool answer_dialog(bool accept, const std::string& prompt_text) override;
    void bring_to_front() override {}
    std::string screenshot() override { return "PNG"; }
    std::optional<std::string> connection_lost() const override { return closed ? "it was closed" : lost; }
    std::optional<int32_t> native_window() override { return std::nullopt; }
    bool window_on_this_machine() const override { return true; }
    void close() noexcept override { closed = true; }

private:
    page::PageState& m_state;
    std::string m_main_frame = "top";
    int m_documents = 0;
};

// An engine of fake pages that nobody can see; the last page it opened is at hand.
class FakeEngine final : public page::Engine {
public:
    std::u16string name() const override { return u"Fake"; }
    bool can_show_window() const override { return false; }
    std::unique_ptr<page::PageDelegate> open_page(page::PageState& state, bool headless) override;

    FakePageDelegate* last_page = nullptr;
};

}  // namespace varne::testing
