#pragma once

#include "platform/chromium/protocol_session.h"
#include "platform/environment.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace varne::cdp {

// Where the browser of one application runs and how its protocol is reached: a child process of
// this one, or a browser elsewhere. The page, its state and its objects sit above it unchanged.
class BrowserHost {
public:
    virtual ~BrowserHost() = default;

    // The browser-level protocol session; page targets are attached through it.
    virtual ProtocolSession& session() = 0;

    // Whether its window is on this machine, where a person may see it after the application is
    // released; a browser elsewhere ends with its application.
    virtual bool window_on_this_machine() const { return true; }

    // The handle of the browser's top-level window in this machine's window system, where scripts
    // are given that rather than a number of the library's own; nothing otherwise. Ask once the
    // page is open: a browser shows no window before.
    virtual std::optional<int32_t> native_window() { return std::nullopt; }

    // Ends what the library started there and leaves nothing of it behind. Never raises; later calls
    // do nothing. Call from the owning thread.
    virtual void close() = 0;

    // Lets go of a browser whose windows a person sees, leaving it running until its last window
    // is closed, with nothing of the library left in this process: no connection, no thread. A
    // browser with no window here is closed. Never raises; later calls do nothing.
    virtual void leave_open() { close(); }

    // The browser context that a page opened here belongs to; empty for the browser's default one.
    virtual std::string browser_context() const { return {}; }

    // A blank page target that the host opened ahead in that context for the page, which takes it
    // rather than opening one, attached as ChromiumPageDelegate::attach_ahead() leaves it; empty ids
    // when the page opens its own.
    struct OpenedPage {
        std::string target_id;
        std::string session_id;
    };
    virtual OpenedPage opened_page() const { return {}; }

protected:
    // Asks the browser to close, waiting a couple of seconds for its answer; one that is gone or
    // stuck is the caller's to end either way.
    static void ask_to_close(ProtocolSession& session) noexcept
    {
        if (session.closed())
            return;
        try {
            session.send("Browser.close", nlohmann::json::object(), {}, std::chrono::milliseconds(2000));
        } catch (...) {
            // Ended by the caller.
        }
    }
};

// A browser elsewhere, reached over a connection of the library's own: nobody here sees its
// window, so it ends with its application.
class RemoteBrowserHost : public BrowserHost {
public:
    RemoteBrowserHost(const RemoteBrowserHost&) = delete;
    RemoteBrowserHost& operator=(const RemoteBrowserHost&) = delete;

    bool window_on_this_machine() const override { return false; }

protected:
    RemoteBrowserHost() = default;
};

// The browser for a new application: a local child, a Grid's browser or a running Chromium, as
// `environment` says at this call. Raises AutomationError saying why when none can be had.
std::unique_ptr<BrowserHost> open_browser_host(const EnvironmentLookup& environment, bool headless);

// What the browser that open_browser_host() would give now is known by: applications whose keys
// are equal share one browser, each in a context of its own. Empty where each application needs
// a browser of its own (a Grid balances its sessions, not contexts).
std::string shared_browser_key(const EnvironmentLookup& environment, bool headless);

// Whether a browser started here now could show its window to a person: on Linux where DISPLAY
// names a display, on Windows in an interactive window station.
bool can_show_browser_window(const EnvironmentLookup& environment);

}  // namespace varne::cdp
