#pragma once

#include "platform/session/session_bounds.h"
#include "platform/transport/grid_session.h"
#include "platform/transport/grid_watcher.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/websocket_transport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace varne {

// An engine's protocol session with a Grid's browser: the Grid's session, the engine's `Session`
// over the socket that the Grid names for it, and a watcher that keeps the Grid's session from its
// idle time-out and notices one that the Grid ended. Destroying it closes it. `Session` raises
// `Session::Error`, whose kind() tells a wait that ran out (kTimedOut) and a connection that is
// gone (kDisconnected) from a browser that answered.
template <class Session>
class GridLink {
public:
    // Sends one command that any live browser answers, and waits up to the given time for it.
    using Probe = std::function<void(Session&, std::chrono::milliseconds)>;

    explicit GridLink(GridSession grid) : m_grid(std::move(grid)) {}
    ~GridLink() { close(); }
    GridLink(const GridLink&) = delete;
    GridLink& operator=(const GridLink&) = delete;

    const GridSession& grid() const { return m_grid; }
    Session& session() { return *m_session; }

    // Connects to the socket that the session's capabilities give under `capability` (`no_socket`
    // says what the browser lacks when there is none), checks that the browser answers `probe`, then
    // starts watching with it. Raises AutomationError (server unavailable) when any step fails; the
    // Grid's session is deleted when the link is destroyed, as always.
    void connect(const std::string& capability, const std::string& no_socket, Probe probe)
    {
        auto transport =
            m_grid.open_socket(capability, "The Grid at " + m_grid.origin() + " gave a browser with no " + no_socket);
        MessageTransport& watched = *transport;
        m_session = std::make_unique<Session>(std::move(transport));
        try {
            probe(*m_session, kAnswerTimeout);
        } catch (const typename Session::Error& error) {
            throw server_unavailable("The Grid's browser of session " + m_grid.id() +
                                     " does not answer: " + error.description());
        }
        m_watcher = std::make_unique<GridWatcher>(
            m_grid, watched, [this, probe = std::move(probe)] { return ping(probe); }, session_bounds::kGridSilence);
    }

    // Stops the watcher, ends the connection and deletes the Grid's session, freeing its slot. Never
    // raises; later calls do nothing.
    void close() noexcept
    {
        if (m_closed)
            return;
        m_closed = true;
        if (m_watcher)
            m_watcher->stop();
        if (m_session)
            m_session->close();
        m_grid.remove();
    }

private:
    static constexpr std::chrono::milliseconds kAnswerTimeout{10000};
    static constexpr std::chrono::milliseconds kPingTimeout{2000};

    // An error answer is an answer: only silence and a lost connection tell of a session in trouble.
    GridWatcher::Ping ping(const Probe& probe)
    {
        using Kind = typename Session::Error::Kind;
        try {
            probe(*m_session, kPingTimeout);
            return GridWatcher::Ping::kAnswered;
        } catch (const typename Session::Error& error) {
            if (error.kind() == Kind::kDisconnected)
                return GridWatcher::Ping::kDisconnected;
            return error.kind() == Kind::kTimedOut ? GridWatcher::Ping::kNoAnswer : GridWatcher::Ping::kAnswered;
        }
    }

    GridSession m_grid;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<GridWatcher> m_watcher;
    bool m_closed = false;
};

}  // namespace varne
