#include "platform/firefox/firefox_elsewhere.h"

#include "platform/firefox/attached_firefox.h"
#include "platform/firefox/grid_firefox.h"
#include "platform/transport/browser_location.h"

#include <cstdlib>

namespace varne::bidi {

std::unique_ptr<FirefoxHost> open_firefox_elsewhere()
{
    // Firefox's BiDi server takes its sessions at /session, the path used when none is given.
    static const AttachVariable running_firefox{"VARNE_BIDI_URL", {"ws"}, ""};
    return open_elsewhere<FirefoxHost, GridFirefox, AttachedFirefox>(
        browser_location([](const char* name) { return std::getenv(name); }, running_firefox));
}

}  // namespace varne::bidi
