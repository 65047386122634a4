#pragma once

#include "platform/transport/grid_session.h"
#include "platform/transport/message_transport.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace varne {

// Keeps a Grid's browser session from the Grid's idle time-out, which counts protocol traffic, and
// notices a session that the Grid ended, which the Grid never reports on the browser's socket: a
// thread pings the browser every second in its own protocol, and when a ping gets no answer asks
// the Grid whether it still lists the session. When it does not, or when neither the browser nor
// the Grid has answered for `longest_silence` (a Grid that pauses for a long garbage collection or a
// busy node is slow, not gone), the transport is closed with the reason, so that every call waiting
// on it fails at once.
class GridWatcher {
public:
    enum class Ping { kAnswered, kNoAnswer, kDisconnected };

    // `ping` sends one command that any live browser answers within a couple of seconds.
    GridWatcher(const GridSession& grid, MessageTransport& transport, std::function<Ping()> ping,
                std::chrono::milliseconds longest_silence);
    ~GridWatcher();
    GridWatcher(const GridWatcher&) = delete;
    GridWatcher& operator=(const GridWatcher&) = delete;

    // Closes the transport (a ping under way fails at once) and waits for the thread to end.
    void stop();

private:
    void watch();

    const GridSession& m_grid;
    MessageTransport& m_transport;
    std::function<Ping()> m_ping;
    const std::chrono::milliseconds m_longest_silence;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace varne
