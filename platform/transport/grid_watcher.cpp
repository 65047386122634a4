#include "platform/transport/grid_watcher.h"

#include "frame/automation_error.h"

namespace varne {

namespace {

// Often enough to tell a dead session within a command's bound, and to keep the Grid's idle
// time-out from ever running out.
constexpr std::chrono::milliseconds kWatchInterval{1000};

}  // namespace

GridWatcher::GridWatcher(const GridSession& grid, MessageTransport& transport, std::function<Ping()> ping)
    : m_grid(grid), m_transport(transport), m_ping(std::move(ping)), m_thread([this] { watch(); })
{
}

GridWatcher::~GridWatcher()
{
    stop();
}

void GridWatcher::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_all();
    m_transport.close("the browser session was ended by the library");
    if (m_thread.joinable())
        m_thread.join();
}

void GridWatcher::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, kWatchInterval, [this] { return m_stopping; })) {
        lock.unlock();
        const Ping ping = m_ping();
        if (ping == Ping::kDisconnected)
            return;
        std::string ended;
        if (ping == Ping::kNoAnswer) {
            try {
                if (!m_grid.listed())
                    ended = "the Grid at " + m_grid.origin() + " ended browser session " + m_grid.id() +
                            " (it was idle longer than the Grid's session time-out, or its node was lost)";
            } catch (const AutomationError& failure) {
                ended = "the Grid no longer answers: " + failure.description();
            }
        }
        if (!ended.empty()) {
            m_transport.close(ended);
            return;
        }
        lock.lock();
    }
}

}  // namespace varne
