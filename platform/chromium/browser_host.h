#pragma once

#include "platform/chromium/protocol_session.h"

#include <memory>

namespace varne {

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

    // Ends what the library started there and leaves nothing of it behind. Never raises; later calls
    // do nothing. Call from the owning thread.
    virtual void close() = 0;
};

// The browser for a new application: a local child, a Grid's browser or a running Chromium, as the
// environment says at this call. Raises AutomationError saying why when none can be had.
std::unique_ptr<BrowserHost> open_browser_host(bool headless);

}  // namespace varne
