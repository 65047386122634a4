#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace varne::page {

// What the browser's events say about one page: its frames with their load state, the script
// realm of each frame's document, and the JavaScript dialog that is open. The engine's delegate
// feeds the events from its reader thread; the owner thread asks without a round trip.
class PageState {
public:
    struct Dialog {
        std::string type;  // "alert", "confirm", "prompt" or "beforeunload"
        std::string message;
        std::string default_prompt;  // what a prompt's field holds until someone types
    };

    struct LoadFailure {
        std::string url;
        std::string reason;
    };

    // The page's top frame, known once the page exists; until then no query is made.
    void set_main_frame(const std::string& frame_id);

    // Events.
    void frame_attached(const std::string& frame_id, const std::string& parent_id);
    void frame_detached(const std::string& frame_id);
    void frame_navigated(const std::string& frame_id, const std::string& parent_id, const std::string& url,
                         const std::string& origin);
    void navigated_within_document(const std::string& frame_id, const std::string& url);
    void frame_started_loading(const std::string& frame_id);
    void frame_stopped_loading(const std::string& frame_id);
    void top_content_loaded();
    // A request of a frame's document for something its load event waits for (an image, a style
    // sheet, a script, a font), by the engine's id of the request; and the end of such a request,
    // answered or failed. The requests of a document end with it.
    void resource_requested(const std::string& frame_id, const std::string& request_id);
    void resource_finished(const std::string& request_id);
    // A navigation was asked for (by the page or by us): the frame counts as loading from now on,
    // until the browser has begun every navigation asked for or refused it; the end of a load that
    // ran meanwhile does not end it. A page that asks for two at once has each begun in turn.
    void navigation_requested(const std::string& frame_id);
    // The browser has begun one of the navigations asked for, before any request for its document.
    void navigation_started(const std::string& frame_id);
    // The realm in which scripts of the frame's current document run (its main world), by the
    // engine's own id of it.
    void realm_created(const std::string& realm_id, const std::string& frame_id);
    void realm_destroyed(const std::string& realm_id);
    // Every realm of the page is gone.
    void realms_cleared();
    void dialog_opening(Dialog dialog);
    // `accepted`: answered with OK. A "leave this page?" dialog answered with Cancel ends the
    // navigation that raised it.
    void dialog_closed(bool accepted);
    // The answer to the request for a frame's document: its HTTP status. It belongs to the document
    // that the frame's navigation under way commits, whichever of the two the browser tells first.
    void document_answered(const std::string& frame_id, int32_t status);
    void load_failed(const std::string& url, const std::string& reason);
    // A document load of the frame was cancelled before any answer. A navigation of the frame asked
    // for before the failures are taken replaced it, and it is no failure then.
    void load_cancelled(const std::string& frame_id, const std::string& url, const std::string& reason);
    void page_gone(const std::string& why);
    void page_crashed();
    // A navigation of the crashed page starts: it shows no document, no dialog, and loads afresh.
    void page_restarting();

    // The browser refused the navigation before any load began.
    void navigation_refused(const std::string& frame_id);
    // Another navigation of the frame ended this one before its document came, after its start
    // was told (`begun`) or before: a navigation of the window that the script asked for was
    // overtaken, as when the page's own start comes after it.
    void navigation_cut_short(const std::string& frame_id, bool begun);
    // A script asks for a navigation of the window, which it expects to win over any that the page
    // begins of its own until its document is shown.
    void script_navigation_asked();

    // Queries.
    // 4 once the top document has loaded (or a dialog holds the page after its document
    // arrived), 1 while it loads. The top document's own load ends when it has been parsed, its
    // own images, style sheets, scripts and fonts have come, and only its frames, each of which
    // has begun its own load, still load: the frames are the frame walk's to wait for, each with
    // its own time. A navigation of the window that has begun and not yet shown its document
    // leaves the old document's frames out of it.
    int32_t ready_state() const;
    bool frame_ready(const std::string& frame_id) const;
    bool has_frame(const std::string& frame_id) const;
    // Counts the documents that a frame has shown; a document object of an older one is stale.
    uint64_t generation(const std::string& frame_id) const;
    // Counts the documents and the new addresses within a document that a frame has shown.
    uint64_t addresses_shown(const std::string& frame_id) const;
    std::vector<std::string> child_frames(const std::string& frame_id) const;
    std::string parent_of(const std::string& frame_id) const;
    std::string origin_of(const std::string& frame_id) const;
    std::string url_of(const std::string& frame_id) const;
    std::optional<Dialog> dialog() const;
    // The failed loads not taken yet, oldest first.
    std::vector<LoadFailure> take_load_failures();
    // The failed loads of the window and its frames since a navigation of the window last began,
    // oldest first, whether taken or not.
    std::vector<LoadFailure> failures_since_navigation() const;
    // The HTTP status of the frame's document, 0 for one that came without an answer (a refused
    // connection, an error page, the first empty document).
    int32_t status_of(const std::string& frame_id) const;
    std::optional<std::string> gone() const;
    bool crashed() const;
    // Whether the page began a navigation of the window after the script's last one had begun and
    // before that one showed its document: the browser then cut the script's short.
    bool script_navigation_overtaken() const;
    // The realm of the frame's current document, waiting up to `timeout` for one to appear.
    std::optional<std::string> realm_of(const std::string& frame_id, std::chrono::milliseconds timeout) const;

    std::string main_frame_id() const;

private:
    struct Frame {
        std::string parent;
        std::vector<std::string> children;  // in the order the frames were made, as window.frames has them
        int requested = 0;  // navigations asked for that the browser has not begun yet
        bool loading = false;
        bool content_loaded = false;  // the document shown has been parsed
        uint64_t generation = 0;
        uint64_t addresses_shown = 0;
        int32_t status = 0;  // of the document shown
        int32_t answered = 0;  // the status that the navigation under way was answered with
        bool committed = false;  // the navigation under way has shown its document
        std::string url;
        std::string origin;
        std::optional<std::string> realm;
        std::set<std::string> resources;  // the requests of the document shown that its load waits for
    };

    // The script's last navigation of the window, until it shows a document or ends without one.
    struct ScriptNavigation {
        bool pending = false;
        int starts = 0;  // navigations of the window begun since it was asked for
        bool overtaken = false;
    };

    struct RecordedFailure {
        LoadFailure failure;
        std::string cancelled_in;  // the frame whose load was cancelled, empty for other failures
    };

    Frame& frame(const std::string& frame_id);
    void forget(const std::string& frame_id);
    void forget_resources(Frame& frame);
    void forget_cancelled_loads(const std::string& frame_id);
    void record(RecordedFailure failure);
    void window_navigation_begins(const std::string& frame_id);
    bool busy(const Frame& frame) const;
    bool only_frames_load(const Frame& frame) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::string m_main_frame_id;
    std::map<std::string, Frame> m_frames;
    std::optional<Dialog> m_dialog;
    std::optional<std::string> m_gone;
    std::map<std::string, std::string> m_resource_frames;  // the frame of each request in `resources`
    std::vector<RecordedFailure> m_failures;  // until taken
    std::vector<RecordedFailure> m_window_failures;  // until a navigation of the window begins
    // Whether the browser says when it begins a navigation; one that does not ends a request
    // only with the load's end.
    bool m_starts_announced = false;
    bool m_crashed = false;
    ScriptNavigation m_script_navigation;
};

}  // namespace varne::page
