#pragma once

#include "page/page_delegate.h"
#include "page/page_state.h"
#include "platform/firefox/bidi_session.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The tab of a Firefox, driven over WebDriver BiDi for the page model. Above this file nothing
// sees BiDi's JSON.
namespace varne::bidi {

// Where the session runs: a Firefox that this library started, or one elsewhere; the delegate
// ends its part of it with its page.
class FirefoxHost {
public:
    virtual ~FirefoxHost() = default;
    virtual BidiSession& session() = 0;
    virtual bool window_on_this_machine() const = 0;
    // The tab that the host opened for the page: where the browser is not the library's alone, or
    // a blank window opened ahead in the page's user context; nothing when the page opens a window
    // of its own in the host's user context.
    virtual std::optional<std::string> own_tab() const { return std::nullopt; }
    // The subscription to the page's events that the host made for its own tab; empty when the
    // page subscribes itself.
    virtual std::string own_tab_subscription() const { return {}; }
    // The user context that the page's window opens in; empty for the default one.
    virtual std::string user_context() const { return {}; }
    // Ends what the library started for the page and leaves nothing behind. Never raises.
    virtual void close() noexcept = 0;
    // Lets go of the page, leaving its window open for the person who sees it. Never raises.
    virtual void leave_open() noexcept { close(); }
};

// Asks for the events that a page delegate reads, of `tab` and its frames; returns the
// subscription's id. Raises BidiError as the session's send does.
std::string subscribe_to_page_events(BidiSession& session, const std::string& tab);

// The tab of a window of its own in a Firefox (or the host's own tab), with the browsingContext,
// script and network events of it and its frames feeding the page model's state. Tabs that the
// page opens are not its own.
class FirefoxPageDelegate final : public page::PageDelegate {
public:
    // Opens the window in the host's user context and subscribes to its events; the tab shows
    // about:blank, so no script of a page runs before they are watched. Raises AutomationError as
    // the session's send does.
    FirefoxPageDelegate(std::unique_ptr<FirefoxHost> host, page::PageState& state);
    ~FirefoxPageDelegate() override;
    FirefoxPageDelegate(const FirefoxPageDelegate&) = delete;
    FirefoxPageDelegate& operator=(const FirefoxPageDelegate&) = delete;

    const std::string& main_frame_id() const override { return m_main_frame_id; }
    // browsingContext.navigate with wait "none"; returns when navigationStarted arrives.
    page::NavigationStart navigate(const std::string& frame_id, const std::string& url) override;
    // script.evaluate in the realm, holding objects with resultOwnership "root". Sent to the realm's
    // frame: a document that has just replaced the realm's may run the expression, whose answer is
    // then refused as one from a document that is gone.
    page::RemoteValue evaluate(const std::string& realm_id, const std::string& expression, bool by_value) override;
    // script.callFunction on the object's handle in its realm.
    std::optional<page::RemoteValue> call_function(const std::string& handle, const std::string& declaration,
                                                   const std::vector<page::CallArgument>& arguments, bool by_value,
                                                   bool user_gesture) override;
    // A frame element's contentWindow, which BiDi serializes as the frame's context id.
    std::string frame_of(const std::string& element_handle) override;
    // script.disown.
    void release(const std::string& handle) noexcept override;
    // browsingContext.handleUserPrompt on the context that showed the dialog.
    bool answer_dialog(bool accept, const std::string& prompt_text) override;
    // browsingContext.activate.
    void bring_to_front() override;
    // browsingContext.captureScreenshot of the viewport.
    std::string screenshot() override;
    std::optional<std::string> connection_lost() const override;
    // BiDi names windows by ids of its own, none of the window system's.
    std::optional<int32_t> native_window() override { return std::nullopt; }
    bool window_on_this_machine() const override { return m_host->window_on_this_machine(); }
    void close() noexcept override;
    void leave_open() noexcept override;

private:
    // The navigation a frame is loading, from navigationStarted on.
    struct Load {
        std::string navigation;
        std::string url;
        bool failed = false;  // its failure has been recorded
        bool answered = false;  // its response has begun to come
    };

    BidiSession& session() const { return m_host->session(); }
    // Where a script command for `realm` goes: to its frame, when it is the realm of a document of
    // this tab that has not ended as far as the events have told; else to the realm itself, which
    // costs Firefox a search of every document of every tab before the command can start.
    nlohmann::json script_target(const std::string& realm) const;
    void document_realm_created(const std::string& realm, const std::string& context);
    bool is_page_event(const BidiEvent& event) const;
    std::string dialog_context() const;
    void settle_after(const std::string& realm);
    // Whether the tab's content process died, as a call that failed may mean; tells the page state.
    bool tab_crashed();
    // Raises what a failed script task means, as rethrow_translated() does, or that the tab crashed.
    [[noreturn]] void rethrow(const BidiError& error);

    // On the reader thread (firefox_page_events.cpp).
    void on_event(const BidiEvent& event);
    void on_navigation_started(const std::string& context, const nlohmann::json& params);
    void on_navigation_committed(const std::string& context, const nlohmann::json& params);
    void on_fetch_error(const std::string& context, const nlohmann::json& params);
    // Whether a load or parse event belongs to the navigation that the frame loads now.
    bool of_current_load(const std::string& context, const nlohmann::json& params) const;
    // Asks the top document, once parsed, to say when its own images and fonts have come: only then
    // does it count as parsed, since Firefox may tell the parse before the requests for them.
    void watch_own_load(const std::string& navigation);
    void on_own_load(const nlohmann::json& params);
    void end_load(const std::string& context);

    std::unique_ptr<FirefoxHost> m_host;
    page::PageState& m_state;
    bool m_closed = false;
    std::string m_main_frame_id;
    BidiSession::ListenerId m_listener = 0;
    std::string m_subscription;

    // The frames of this tab (the parent of each), the context of the open dialog and a crash told
    // early; shared by the reader thread, the conditions that run there and the owner thread.
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_parents;
    std::map<std::string, std::string> m_realm_frames;  // the frame of each document's own realm
    std::string m_dialog_context;
    bool m_crash_told = false;  // a crash told before Firefox committed its page for it

    // Touched by the reader thread only.
    std::map<std::string, Load> m_loads;  // by context
    std::set<std::string> m_error_pages;  // contexts that show Firefox's page for a failed load
};

}  // namespace varne::bidi
