#include "frame/server_locks.h"

#include <atomic>

namespace varne {

namespace {
std::atomic<int64_t> g_locks{0};
std::atomic<int64_t> g_background_work{0};
}  // namespace

void lock_server(bool lock) noexcept
{
    if (lock) {
        g_locks.fetch_add(1);
        return;
    }
    int64_t held = g_locks.load();
    while (held > 0 && !g_locks.compare_exchange_weak(held, held - 1)) {}
}

int64_t server_locks() noexcept
{
    return g_locks.load();
}

void hold_background_work(bool hold) noexcept
{
    g_background_work.fetch_add(hold ? 1 : -1);
}

int64_t background_work() noexcept
{
    return g_background_work.load();
}

}  // namespace varne
