#include "platform/firefox/firefox_elsewhere.h"

#include "platform/firefox/attached_firefox.h"
#include "platform/firefox/grid_firefox.h"
#include "platform/transport/browser_location.h"

namespace varne::bidi {

std::unique_ptr<FirefoxHost> open_firefox_elsewhere(const EnvironmentLookup& environment)
{
    // Firefox's BiDi server takes its sessions at /session, the path used when none is given.
    static const AttachVariable running_firefox{"VARNE_BIDI_URL", {"ws"}, ""};
    const BrowserLocation location = browser_location(environment, running_firefox);
    switch (location.kind) {
    case BrowserLocation::Kind::kGrid:
        return GridFirefox::open(location);
    case BrowserLocation::Kind::kAttached:
        return AttachedFirefox::open(location.address);
    case BrowserLocation::Kind::kLocal:
        break;
    }
    return nullptr;
}

}  // namespace varne::bidi
