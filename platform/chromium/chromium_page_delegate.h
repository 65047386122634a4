#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "page/page_delegate.h"
#include "page/page_state.h"
#include "platform/chromium/browser_host.h"
#include "platform/chromium/protocol_session.h"

// One page target of a Chromium, driven over the DevTools protocol for the page model. Above this
// file nothing sees the protocol's JSON.
namespace varne::cdp {

// One page target, attached in flattened mode, with its page, runtime and network domains enabled;
// its events feed the page model's state.
class ChromiumPageDelegate final : public page::PageDelegate {
public:
    // Creates a new page in the host's browser context (in a window of its own) and attaches to it, so that no script
    // of it runs before its events are watched. Raises AutomationError as the session's send does.
    ChromiumPageDelegate(std::unique_ptr<BrowserHost> host, page::PageState& state);
    ~ChromiumPageDelegate() override;
    ChromiumPageDelegate(const ChromiumPageDelegate&) = delete;
    ChromiumPageDelegate& operator=(const ChromiumPageDelegate&) = delete;

    // Attaches to a blank page that is opened ahead for a page to come, and turns on there what needs no
    // delegate to watch it, so that the page that takes it has little left to do. Returns the session's id;
    // raises as the session's send does.
    static std::string attach_ahead(ProtocolSession& session, const std::string& target_id);

    const std::string& main_frame_id() const override { return m_main_frame_id; }
    // Page.navigate of one frame (the main frame for the whole page).
    page::NavigationStart navigate(const std::string& frame_id, const std::string& url) override;
    // Runtime.evaluate in the realm (an execution context id, as text).
    page::RemoteValue evaluate(const std::string& realm_id, const std::string& expression, bool by_value) override;
    // Runtime.callFunctionOn.
    std::optional<page::RemoteValue> call_function(const std::string& handle, const std::string& declaration,
                                                   const std::vector<page::CallArgument>& arguments, bool by_value,
                                                   bool user_gesture) override;
    // DOM.describeNode.
    std::string frame_of(const std::string& element_handle) override;
    // Runtime.releaseObject.
    void release(const std::string& handle) noexcept override;
    // Page.handleJavaScriptDialog.
    bool answer_dialog(bool accept, const std::string& prompt_text) override;
    // Page.bringToFront.
    void bring_to_front() override;
    // Page.captureScreenshot.
    std::string screenshot() override;
    std::optional<std::string> connection_lost() const override;
    std::optional<int32_t> native_window() override { return m_host->native_window(); }
    bool window_on_this_machine() const override { return m_host->window_on_this_machine(); }
    void close() noexcept override;
    void leave_open() noexcept override;

private:
    // A document request of a frame, from its start to its end.
    struct DocumentRequest {
        std::string frame_id;
        std::string url;
        bool answered = false;  // a response came
        std::string aborted;  // cancelled before any response, with this reason
    };

    ProtocolSession& session() const { return m_host->session(); }
    // Opens the page target and turns on the events the page model reads.
    void prepare_page();
    // Watches the page that the host opened ahead; false, with the page closed, when its renderer is gone.
    bool take_page_opened_ahead(const BrowserHost::OpenedPage& ahead);
    void on_event(const ProtocolEvent& event);
    void on_network_event(const ProtocolEvent& event);
    void on_frame_stopped_loading(const std::string& frame_id);

    std::unique_ptr<BrowserHost> m_host;
    page::PageState& m_state;
    bool m_closed = false;
    std::string m_target_id;
    std::string m_session_id;
    std::string m_main_frame_id;
    ProtocolSession::ListenerId m_listener = 0;
    std::mutex m_frame_sessions_mutex;
    std::set<std::string> m_frame_sessions;
    // Touched by the reader thread only.
    std::map<std::string, DocumentRequest> m_documents;  // by request id
    std::map<std::string, std::string> m_last_document;  // request id, by frame
};

}  // namespace varne::cdp
