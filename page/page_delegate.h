#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/automation_error.h"

// The port an engine implements under the page model. The model holds the rules that scripts
// see (readiness, dialogs, failed loads, stale documents, window handles, the DOM by name); an
// engine only carries out tasks on one browser page and reports what happens there.
//
// Text: every string that travels through this port as page content (script sources, values,
// addresses, dialog messages, load failures) is UTF-8 in which a lone surrogate of the page is
// written in the reserved form of page/page_text.h; page_text() and protocol_text() turn it into
// automation strings and back.
//
// Handles: a handle is the engine's opaque text for one object held in the page (CDP: an object
// id; BiDi: a handle or shared id). The model keeps it until it calls release().
//
// Realms: the model runs scripts in the realm of a frame's current document (its main world). The
// delegate names realms by opaque text (CDP: the execution context id as text; BiDi: the realm id)
// and reports them to PageState as they come and go.
namespace varne::page {

class PageState;

// A value or a handle that the page gave back.
struct RemoteValue {
    enum class Kind { Undefined, Null, Boolean, Number, String, StringList, Object, Function, Other };
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;  // a String value, and the text of Other (a value that has no kind here)
    std::vector<std::optional<std::string>> items;  // a list of strings (or nulls) returned by value
    std::string handle;  // set for Object and Function
    // The object's DOM class as the page names it: "HTMLDocument", "HTMLCollection", "Window", ...
    std::string class_name;
    std::string subtype;  // "node" for a DOM node, "array" for an array, "null"
    std::string description;
};

// An argument of a function called in the page.
struct CallArgument {
    enum class Kind { Undefined, Null, Boolean, Number, String, Object };
    Kind kind = Kind::Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::string handle;

    static CallArgument null_value() { return with(Kind::Null); }
    static CallArgument of(bool value) { return with(Kind::Boolean, value); }
    static CallArgument of(double value) { return with(Kind::Number, false, value); }
    static CallArgument of(std::string value) { return with(Kind::String, false, 0, std::move(value)); }
    static CallArgument object(std::string handle) { return with(Kind::Object, false, 0, {}, std::move(handle)); }

private:
    static CallArgument with(Kind kind, bool boolean = false, double number = 0, std::string text = {},
                             std::string handle = {})
    {
        return {kind, boolean, number, std::move(text), std::move(handle)};
    }
};

// A task that failed. cut_short() tells a task that the end of the browser, of its page or of the
// connection (or no answer within the task's bound) cut short from one the browser refused with an
// answer of its own: the model then reports the browser's end as every later call would.
class TaskError : public AutomationError {
public:
    TaskError(int32_t number, std::string description, bool cut_short)
        : AutomationError(number, std::move(description)), m_cut_short(cut_short)
    {
    }
    bool cut_short() const noexcept { return m_cut_short; }

private:
    bool m_cut_short;
};

// How a navigation asked of a frame began.
struct NavigationStart {
    enum class Outcome {
        kStarted,  // the frame began to load a document; its events end the load
        kNoLoad,  // the browser answered without loading anything (a javascript: address, a dialog)
        kRefused,  // the browser refused the address before any load: `reason` says why
        kCutShort,  // another navigation of the frame, the page's own as a rule, ended it before it began
    };
    Outcome outcome = Outcome::kStarted;
    std::string reason;
};

// One browser page, as an engine drives it. Every call is made from the model's (owning) thread,
// one at a time; none waits without a bound. A call that fails raises TaskError (script errors and
// stale handles raise AutomationError with the number scripts know, as described at each call).
//
// Events: from its creation until close(), the delegate feeds the PageState that it was made with,
// from its own thread, through these PageState members (none may block on a task of the delegate):
//   frame_attached, frame_detached, frame_navigated (a frame committed a new document, with its
//   address and security origin), navigated_within_document, frame_started_loading,
//   frame_stopped_loading, top_content_loaded (the top document was parsed), navigation_requested
//   (the page asked for a navigation of a frame in the same tab: a link, a form, a script; the
//   model marks those it asks for itself), navigation_started (the browser began a navigation,
//   one asked for by the page or by the model; an engine that never says so leaves a frame
//   loading until its load stops),
//   document_answered (the HTTP status that the request for a frame's document was answered with;
//   an engine that cannot tell leaves every document at 0),
//   realm_created / realm_destroyed / realms_cleared, dialog_opening / dialog_closed, load_failed
//   (an HTTP status of 400 and above, or a network error: address and reason), load_cancelled (a
//   document load cancelled before any answer, and not replaced so far), page_gone (the page or its
//   target was closed or detached: why), page_crashed (its renderer died; a navigation restores it).
class PageDelegate {
public:
    virtual ~PageDelegate() = default;

    // The id of the page's top frame; fixed for the page's life.
    virtual const std::string& main_frame_id() const = 0;

    // Asks the frame to load `url`. Returns once the load has started, the browser answered
    // without one, or refused it; never waits for the document. Raises TaskError when no answer
    // comes or the browser is gone.
    virtual NavigationStart navigate(const std::string& frame_id, const std::string& url) = 0;

    // Runs `expression` in the realm and returns its value: a handle unless `by_value` (then
    // strings, numbers, booleans and arrays of strings come as values). A script that throws
    // raises AutomationError: a SecurityError as "Permission denied: <message>" (number
    // kPermissionDenied), else "The page's script failed: <message>" (kUnspecified). A realm whose
    // document is gone raises kObjectDisconnected, "The object invoked has disconnected from its
    // clients: the page that held it is gone".
    virtual RemoteValue evaluate(const std::string& realm_id, const std::string& expression, bool by_value) = 0;

    // Calls the function `declaration` with `this` bound to the object `handle`, raising as
    // evaluate() does; a handle of a document that the frame has left behind must raise the stale
    // error above, never reach an older node. `user_gesture`: the call counts as a person's action
    // (a click that may open a window or a "leave this page?" dialog). A call that opens a
    // JavaScript dialog returns nothing at once, as a person's click returns with the dialog showing.
    virtual std::optional<RemoteValue> call_function(const std::string& handle, const std::string& declaration,
                                                     const std::vector<CallArgument>& arguments, bool by_value,
                                                     bool user_gesture) = 0;

    // The frame that a frame element (an IFRAME or FRAME) holds; raises as evaluate() does.
    virtual std::string frame_of(const std::string& element_handle) = 0;

    // Lets the page forget a handle, without waiting. Never raises.
    virtual void release(const std::string& handle) noexcept = 0;

    // Answers the JavaScript dialog that is open: OK (a prompt then takes `prompt_text`) or Cancel.
    // False when no dialog was showing. Returns once the script that opened the dialog has run on
    // (within about two seconds), so that a navigation it asks for is already known.
    virtual bool answer_dialog(bool accept, const std::string& prompt_text) = 0;

    // Shows the page's window above the others, where it has one.
    virtual void bring_to_front() = 0;

    // The page as its window shows it, as PNG bytes; headless too. Raises TaskError.
    virtual std::string screenshot() = 0;

    // Why the connection to the browser is lost ("it was closed" after close()); nothing while it
    // holds. Never raises.
    virtual std::optional<std::string> connection_lost() const = 0;

    // The handle of the browser's top-level window in this machine's window system, where scripts
    // are given that rather than a number of the library's own. Asked once, after the page opened.
    virtual std::optional<int32_t> native_window() = 0;

    // Whether the browser's window is on this machine, where a person may see it after the
    // application is released: such a headed browser stays open.
    virtual bool window_on_this_machine() const = 0;

    // Ends the page and whatever the engine started for it, leaving nothing behind (processes,
    // profiles). Never raises; later calls do nothing; later tasks raise TaskError.
    virtual void close() noexcept = 0;

    // Lets go of a page whose window a person sees (window_on_this_machine()), leaving the window
    // open with nothing of the library kept for it in this process; close() for any other page.
    // Later calls of either do nothing; later tasks raise TaskError.
    virtual void leave_open() noexcept { close(); }
};

// An engine: starts browsers with one page. Engines are registered by name by the library's
// composition root; the page model names none.
class Engine {
public:
    virtual ~Engine() = default;

    // The browser's name, as the application's Name property gives it ("Chromium").
    virtual std::u16string name() const = 0;

    // Whether a browser started here now could show its window to a person.
    virtual bool can_show_window() const = 0;

    // Opens a page, headless or headed, in a window and an isolated context (cookies, storage,
    // cache, dialogs) of its own, starting a browser for it unless one of the engine's runs there
    // already, and returns its delegate, which feeds `state` (it outlives the delegate) from then
    // on: no script of the page runs before its events are watched. Raises AutomationError saying
    // why when none can be had.
    virtual std::unique_ptr<PageDelegate> open_page(PageState& state, bool headless) = 0;
};

// The engines by name.
class EngineRegistry {
public:
    void add(std::string name, Engine& engine) { m_engines[std::move(name)] = &engine; }
    Engine* find(std::string_view name) const
    {
        auto found = m_engines.find(std::string(name));
        return found == m_engines.end() ? nullptr : found->second;
    }

private:
    std::map<std::string, Engine*> m_engines;
};

}  // namespace varne::page
