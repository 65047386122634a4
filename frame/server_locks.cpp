#include "frame/server_locks.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace varne {

namespace {
std::atomic<int64_t> g_locks{0};
std::atomic<int64_t> g_background_work{0};
std::atomic<bool> g_process_ending{false};

// Made as the library is loaded, before any object of it, so destroyed after every one: a watcher
// may still hand itself over while the objects that own it are destroyed at exit. At exit its threads may have
// been ended already, and joining them there could wait for ever; when the library is unloaded,
// there are none.
struct LeavingThreads {
    std::mutex mutex;
    std::vector<std::thread> threads;
    ~LeavingThreads()
    {
        for (auto& thread : threads)
            thread.detach();
    }
};
LeavingThreads g_leaving;
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

void drop_background_work_when_gone(std::thread self) noexcept
{
    std::lock_guard lock(g_leaving.mutex);
    g_leaving.threads.push_back(std::move(self));
}

int64_t background_work() noexcept
{
    std::vector<std::thread> gone;
    {
        std::lock_guard lock(g_leaving.mutex);
        gone.swap(g_leaving.threads);
    }
    for (auto& thread : gone) {
        thread.join();
        g_background_work.fetch_sub(1);
    }
    return g_background_work.load();
}

void note_process_ending() noexcept
{
    g_process_ending = true;
}

bool process_ending() noexcept
{
    return g_process_ending.load();
}

}  // namespace varne
