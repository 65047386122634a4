#include "frame/server_locks.h"

#include <atomic>

namespace varne {

namespace {
std::atomic<int64_t> g_locks{0};
}

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

}  // namespace varne
