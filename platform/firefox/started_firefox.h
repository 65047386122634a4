#pragma once

#include "platform/environment.h"
#include "platform/firefox/bidi_session.h"

#include <memory>
#include <string>

namespace varne::bidi {

// A Firefox that this library started on this machine in a profile of its own, with the one BiDi
// session that its pages share (firefox_engine.cpp): a child process on POSIX; under Wine the
// host's Firefox or, as on Windows, a Windows program.
class StartedFirefox {
public:
    virtual ~StartedFirefox() = default;

    virtual BidiSession& session() = 0;
    // Whether a person can see its windows; they may stay open after this process ends.
    virtual bool shows_window() const = 0;
    // Ends the session and the browser, leaving no process and no profile behind. Later calls do
    // nothing.
    virtual void close() noexcept = 0;
    // Lets go of a Firefox whose window a person sees, leaving it running until that window closes,
    // with nothing of it kept in this process; close() for any other. Later calls do nothing.
    virtual void leave_open() noexcept = 0;
};

// Starts the Firefox that a page asks for now, as `environment` says (the program, the display).
// Raises AutomationError (server unavailable) saying which step of the start failed.
std::unique_ptr<StartedFirefox> start_firefox(const EnvironmentLookup& environment, bool headless);

// What the Firefox that start_firefox() would start now is known by: pages whose keys are equal
// share one Firefox, each in a user context of its own. Empty where each page starts a Firefox of
// its own, in whose default user context it opens.
std::string shared_firefox_key(const EnvironmentLookup& environment, bool headless);

// Whether a Firefox started here now could show its window to a person.
bool can_show_firefox_window(const EnvironmentLookup& environment);

}  // namespace varne::bidi
