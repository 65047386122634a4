#pragma once

#include "platform/environment.h"
#include "platform/firefox/firefox_page_delegate.h"

#include <memory>

namespace varne::bidi {

// A Firefox that the library does not start, as `environment` says at this call: one that runs
// already (VARNE_BIDI_URL) or a Grid's session (VARNE_REMOTE_URL); nothing when neither is set,
// and always nothing on Windows, which reaches Firefox only by starting it.
// Raises AutomationError naming the variable when a value is unusable, or saying why none can be had.
std::unique_ptr<FirefoxHost> open_firefox_elsewhere(const EnvironmentLookup& environment);

}  // namespace varne::bidi
