#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/chromium/protocol_session.h"

// Typed commands and events of one page target over a protocol session. Above this file
// nothing sees the protocol's JSON: the object-model adapter works with these types.
namespace varne::cdp {

// A value or a handle that the page gave back (Runtime.RemoteObject).
struct RemoteValue {
    enum class Kind { Undefined, Null, Boolean, Number, String, StringList, Object, Function, Other };
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;  // a String value, as page_text() reads it
    std::vector<std::optional<std::string>> items;  // a list of strings (or nulls) returned by value
    std::string object_id;  // set for Object and Function
    std::string class_name;  // "HTMLDocument", "HTMLCollection", "Window", ...
    std::string subtype;  // "node", "array", ...
    std::string description;
};

// An argument of a function called in the page (Runtime.CallArgument).
struct CallArgument {
    enum class Kind { Undefined, Null, Boolean, Number, String, Object };
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;  // a String, as protocol_text() writes it
    std::string object_id;

    static CallArgument null_value() { return with(Kind::Null); }
    static CallArgument of(bool value) { return with(Kind::Boolean, value); }
    static CallArgument of(double value) { return with(Kind::Number, false, value); }
    static CallArgument of(std::string value) { return with(Kind::String, false, 0, std::move(value)); }
    static CallArgument object(std::string id) { return with(Kind::Object, false, 0, {}, std::move(id)); }

private:
    static CallArgument with(Kind kind, bool boolean = false, double number = 0, std::string text = {},
                             std::string object_id = {})
    {
        return {kind, boolean, number, std::move(text), std::move(object_id)};
    }
};

// The typed page events that the adapter keeps state from; each runs on the protocol's reader
// thread and must not wait for a command.
struct PageEvents {
    std::function<void(const std::string& frame_id, const std::string& parent_id)> frame_attached;
    std::function<void(const std::string& frame_id)> frame_detached;
    // A frame committed a new document.
    std::function<void(const std::string& frame_id, const std::string& parent_id, const std::string& url,
                       const std::string& security_origin)>
        frame_navigated;
    std::function<void(const std::string& frame_id, const std::string& url)> navigated_within_document;
    // The browser began a navigation of the frame, one asked for by the page or by us.
    std::function<void(const std::string& frame_id)> navigation_started;
    std::function<void(const std::string& frame_id)> frame_started_loading;
    std::function<void(const std::string& frame_id)> frame_stopped_loading;
    // The top document has been parsed (DOMContentLoaded); its frames may still load.
    std::function<void()> top_content_loaded;
    // The page asked for a navigation of the frame itself (a link, a form, a script).
    std::function<void(const std::string& frame_id)> frame_requested_navigation;
    std::function<void(int64_t context_id, const std::string& frame_id)> default_context_created;
    std::function<void(int64_t context_id)> context_destroyed;
    std::function<void()> contexts_cleared;
    std::function<void(const std::string& type, const std::string& message, const std::string& default_prompt)>
        dialog_opening;
    // `accepted`: answered with OK (for a "leave this page?" dialog: the navigation goes on).
    std::function<void(bool accepted)> dialog_closed;
    // A document load of a frame failed: the address and the browser's reason.
    std::function<void(const std::string& frame_id, const std::string& url, const std::string& reason)> load_failed;
    // A document load of a frame was cancelled before any answer and nothing replaced it so far:
    // the browser refused the address, or a navigation asked for next will replace it.
    std::function<void(const std::string& frame_id, const std::string& url, const std::string& reason)> load_cancelled;
    std::function<void(const std::string& why)> target_gone;
    // The page's renderer crashed or was killed; a navigation brings the page back.
    std::function<void()> target_crashed;
};

// One page target, attached in flattened mode, with its page and runtime domains enabled.
class PageClient {
public:
    // Creates a new page in the browser's window and attaches to it, so that no script of it
    // runs before its events are watched. Raises AutomationError as the session's send does.
    PageClient(ProtocolSession& session, PageEvents events);
    ~PageClient();
    PageClient(const PageClient&) = delete;
    PageClient& operator=(const PageClient&) = delete;

    const std::string& main_frame_id() const { return m_main_frame_id; }

    // Page.navigate of one frame (the main frame for the whole page); returns once the load has
    // started or the browser has answered, without waiting for the response. False when the
    // browser answered without starting a load (a javascript: address, one it refused).
    bool navigate(const std::string& url, const std::string& frame_id);

    // Runtime.evaluate in an execution context.
    RemoteValue evaluate(int64_t context_id, const std::string& expression, bool by_value);
    // Runtime.callFunctionOn with `this` bound to the object. A call that opens a JavaScript
    // dialog returns nothing at once, as a person's click returns with the dialog showing.
    std::optional<RemoteValue> call_function(const std::string& object_id, const std::string& declaration,
                                             const std::vector<CallArgument>& arguments, bool by_value,
                                             bool user_gesture = false);
    // The frame that a frame element (an IFRAME or FRAME) holds (DOM.describeNode).
    std::string frame_id_of(const std::string& element_object_id);
    // Page.handleJavaScriptDialog; false when no dialog was showing. A prompt accepted gets
    // `prompt_text`. Returns once the script that opened the dialog has run on, so that a
    // navigation it starts is already known.
    bool handle_dialog(bool accept, const std::string& prompt_text = {});
    void bring_to_front();
    // Page.captureScreenshot: the page as its window shows it, as PNG bytes; headless too.
    std::string capture_screenshot();
    void release_object(const std::string& object_id);

    ProtocolSession& session() { return m_session; }

private:
    // A document request of a frame, from its start to its end.
    struct DocumentRequest {
        std::string frame_id;
        std::string url;
        bool answered = false;  // a response came
        std::string aborted;  // cancelled before any response, with this reason
    };

    void on_event(const ProtocolEvent& event);
    void on_network_event(const ProtocolEvent& event);

    ProtocolSession& m_session;
    PageEvents m_events;
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
