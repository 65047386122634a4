#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "page/page_delegate.h"
#include "page/page_state.h"

namespace varne::page {

// One browser with the one page that a browser application shows, and the state that the page's
// events keep. Shared by the application and every object it hands out.
class BrowserPage {
public:
    // Starts the engine's browser and its page; raises AutomationError saying why when it cannot. The
    // page's window handle is its browser's real window where it has one, `window_handle` otherwise.
    BrowserPage(Engine& engine, int32_t window_handle, bool headless);
    ~BrowserPage();
    BrowserPage(const BrowserPage&) = delete;
    BrowserPage& operator=(const BrowserPage&) = delete;

    PageState& state() { return m_state; }
    PageDelegate& delegate() { return *m_delegate; }
    int32_t window_handle() const { return m_window_handle; }
    // Whether the browser ends with its application rather than staying open for a person to see.
    bool headless() const { return m_headless || !m_delegate->window_on_this_machine(); }

    // Raise an AutomationError at once when the browser or its page is gone.
    void check_alive() const;
    // As check_alive, and also while a JavaScript dialog holds the page, whose scripts cannot run.
    void check_page_free() const;
    // Runs a call into the page; one that the browser's or the page's end cut short fails as
    // every later call does (check_alive).
    template <class Call>
    auto call(Call&& into_page) -> decltype(into_page())
    {
        try {
            return into_page();
        } catch (const TaskError& error) {
            if (error.cut_short())
                check_alive();
            throw;
        }
    }
    // The realm of the frame's current document; raises when there is none in time.
    std::string realm_for(const std::string& frame_id) const;
    // Starts loading `url` (UTF-8) in the frame, which counts as loading from then on, and returns
    // without waiting for the load. Raises at once when the page is gone, and as the delegate does
    // when the task fails, the frame then no longer counting as loading. An address that the browser
    // refuses is recorded as a failed load.
    void navigate(const std::string& frame_id, const std::string& url);
    // Stops the top document from sending the window anywhere (its load, timers and frames end),
    // where it can still be reached; a document that goes meanwhile is left to its successor.
    void hold_still() noexcept;

    // Lets the page forget an object handle; nothing happens once the browser is gone.
    void release_object(const std::string& handle) noexcept;

    // Ends the page and its context (and the browser with its last page); later calls fail as for
    // a browser that died.
    void close();
    // Leaves a headed page's window open for the person who sees it, keeping nothing of it here;
    // closes a headless one. Later calls fail as for a browser that died.
    void leave_open();

private:
    int32_t m_window_handle;
    bool m_headless;
    // Declared before the delegate, which feeds it until it is destroyed.
    PageState m_state;
    std::unique_ptr<PageDelegate> m_delegate;
};

}  // namespace varne::page
