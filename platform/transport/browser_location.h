#pragma once

#include "platform/environment.h"
#include "platform/transport/web_address.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varne {

// Where the browsers of this process run, as the environment says when a Browser is created.
struct BrowserLocation {
    enum class Kind { kLocal, kGrid, kAttached };

    // How long creation waits in a Grid's queue for a free slot, unless VARNE_REMOTE_QUEUE_TIMEOUT says otherwise.
    static constexpr std::chrono::seconds kDefaultQueueTimeout{300};

    Kind kind = Kind::kLocal;
    // The Grid (http) or the browser that runs already.
    WebAddress address;
    // Grid only: the capabilities asked for, the headers of every request, the queue bound.
    nlohmann::json capabilities;
    HttpHeaders headers;
    std::chrono::seconds queue_timeout = kDefaultQueueTimeout;
};

// The variable that names an engine's browser that runs already, the schemes its address may take,
// and the form of a ws:// address where the engine needs its path ("" when any path will do).
struct AttachVariable {
    const char* name;
    std::vector<std::string_view> schemes;
    std::string_view socket_form;
};

// Reads VARNE_REMOTE_URL, VARNE_REMOTE_CAPABILITIES, VARNE_REMOTE_HEADERS, VARNE_REMOTE_QUEUE_TIMEOUT
// and the engine's attach variable through `lookup` (empty counts as unset). Raises AutomationError
// (invalid procedure call) naming the variable and what is wrong with its value.
BrowserLocation browser_location(const EnvironmentLookup& lookup, const AttachVariable& attach);

// The engine's host of a browser elsewhere that `location` names: its Grid's session (`Grid::open`)
// or the browser that runs already (`Attached::open`); nothing for a browser of this machine's own.
template <class Host, class Grid, class Attached>
std::unique_ptr<Host> open_elsewhere(const BrowserLocation& location)
{
    switch (location.kind) {
    case BrowserLocation::Kind::kGrid:
        return Grid::open(location);
    case BrowserLocation::Kind::kAttached:
        return Attached::open(location.address);
    case BrowserLocation::Kind::kLocal:
        break;
    }
    return nullptr;
}

}  // namespace varne
