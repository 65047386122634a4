#include "platform/firefox/firefox_elsewhere.h"

#include "platform/firefox/attached_firefox.h"
#include "platform/firefox/grid_firefox.h"
#include "platform/transport/browser_location.h"

namespace varne::bidi {

std::unique_ptr<FirefoxHost> open_firefox_elsewhere(const EnvironmentLookup& environment)
{
    // Firefox's BiDi server takes its sessions at /session, the path used when none is given.
    static const AttachVariable running_firefox{"VARNE_BIDI_URL", {"ws"}, ""};
    return open_elsewhere<FirefoxHost, GridFirefox, AttachedFirefox>(browser_location(environment, running_firefox));
}

}  // namespace varne::bidi
