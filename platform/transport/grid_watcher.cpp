#include "platform/transport/grid_watcher.h"

#include "frame/automation_error.h"

#include <optional>
#include <string>

namespace varne {

namespace {

// Often enough to tell a dead session within a command's bound, and to keep the Grid's idle
// time-out from ever running out.
constexpr std::chrono::milliseconds kWatchInterval{1000};

}  // namespace

GridWatcher::GridWatcher(const GridSession& grid, MessageTransport& transport, std::function<Ping()> ping,
                         std::chrono::milliseconds longest_silence)
    : m_grid(grid),
      m_transport(transport),
      m_ping(std::move(ping)),
      m_longest_silence(longest_silence),
      m_thread([this] { watch(); })
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
    std::optional<std::chrono::steady_clock::time_point> silent_since;
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, kWatchInterval, [this] { return m_stopping; })) {
        lock.unlock();
        const Ping ping = m_ping();
        if (ping == Ping::kDisconnected)
            return;
        std::string ended;
        if (ping == Ping::kAnswered) {
            silent_since.reset();
        } else {
            try {
                if (!m_grid.listed())
                    ended = "the Grid at " + m_grid.origin() + " ended browser session " + m_grid.id() +
                            " (it was idle longer than the Grid's session time-out, or its node was lost)";
                silent_since.reset();
            } catch (const AutomationError& failure) {
                const auto now = std::chrono::steady_clock::now();
                if (!silent_since)
                    silent_since = now;
                else if (now - *silent_since >= m_longest_silence)
                    ended =
                        "the Grid has not answered for " +
                        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_longest_silence).count()) +
                        " seconds: " + failure.description();
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
