#pragma once

#include "platform/transport/web_address.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <string>

namespace varne {

class WebSocketTransport;

// A browser session of a WebDriver Grid, over the Grid's HTTP interface: created with the
// capabilities an engine asks for, looked for in the Grid's status, deleted. The browser itself is
// then driven over the socket that the Grid names, in the engine's own protocol.
class GridSession {
public:
    // Asks the Grid at `address` for a new session whose capabilities always match `capabilities`,
    // and waits for it in the Grid's queue up to `queue_timeout`. `headers` go with every request
    // (beside the authorization of the address's credentials). Raises AutomationError (server
    // unavailable) naming the address when the Grid cannot be reached (within seconds), refuses (with
    // the Grid's message) or gives no slot in time.
    static GridSession create(WebAddress address, HttpHeaders headers, const nlohmann::json& capabilities,
                              std::chrono::seconds queue_timeout);

    const std::string& id() const { return m_id; }
    // The Grid's address, as error texts name it.
    std::string origin() const { return m_address.text(); }
    // The headers of every request to the Grid and to the sockets it names.
    HttpHeaders request_headers() const;

    // The socket address that the session's capabilities give under `capability`, reached through the
    // Grid's own host and port (the Grid names the host it was configured with, which may not lead to
    // it from here). Raises AutomationError (server unavailable): `missing` when there is none, the
    // address's fault when it is no ws:// address.
    WebAddress socket_address(const std::string& capability, const std::string& missing) const;
    // Connects to socket_address(capability, missing) with the Grid's headers, within seconds.
    // Raises AutomationError (server unavailable) as socket_address does, or naming the socket.
    std::unique_ptr<WebSocketTransport> open_socket(const std::string& capability, const std::string& missing) const;

    // Whether the Grid still lists the session; raises AutomationError when the Grid does not answer.
    bool listed() const;
    // Deletes the session, freeing its slot. Never raises: a Grid that is gone took the session
    // with it, and one that does not answer ends it at its idle time-out.
    void remove() const noexcept;

private:
    GridSession(WebAddress address, HttpHeaders headers, std::string id, nlohmann::json capabilities);

    WebAddress m_address;
    HttpHeaders m_headers;
    std::string m_id;
    nlohmann::json m_capabilities;
};

}  // namespace varne
