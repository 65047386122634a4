#include "page/browser_pool.h"

#include "frame/server_locks.h"

#include <optional>
#include <vector>

namespace varne::page {

struct BrowserPool::Slot {
    std::string key;
    std::unique_ptr<SharedBrowser> browser;
    int leases = 0;
    bool idle = false;
    std::chrono::steady_clock::time_point idle_until;
    // The window opened ahead for the next page, and the thread that opens it; both go before the
    // browser ends.
    std::unique_ptr<SpareWindow> spare;
    std::thread preparer;
};

struct BrowserPool::State {
    explicit State(std::chrono::milliseconds grace) : idle_grace(grace) {}

    const std::chrono::milliseconds idle_grace;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<Slot>> shared;  // by key
    int running = 0;
    bool shut = false;
    // Ends the browsers whose idle moment is over; runs only while one waits idle.
    std::thread watcher;
    bool watching = false;

    // A running browser keeps the library loaded: its reader thread runs the library's code.
    void count_running(int change)
    {
        const bool was_running = running > 0;
        running += change;
        if (was_running != (running > 0))
            hold_background_work(running > 0);
    }

    bool holds(const std::shared_ptr<Slot>& slot) const
    {
        auto found = shared.find(slot->key);
        return found != shared.end() && found->second == slot;
    }
};

namespace {

using Slots = std::vector<std::shared_ptr<BrowserPool::Slot>>;

void end(SharedBrowser& browser)
{
    if (browser.shows_windows())
        browser.leave_open();
    else
        browser.close();
}

void open_spare(BrowserPool::State* state, BrowserPool::Slot* slot)
{
    std::unique_ptr<SpareWindow> spare;
    try {
        spare = slot->browser->open_spare_window();
    } catch (...) {
        // The next page opens its window itself, and fails there if the browser does.
    }
    std::unique_lock lock(state->mutex);
    if (!slot->spare)
        slot->spare = std::move(spare);
    lock.unlock();
}

// Starts opening the next page's window ahead in a browser that the pool holds, unless one is
// ready or on its way. Called under the state's lock.
void prepare_next(BrowserPool::State& state, const std::shared_ptr<BrowserPool::Slot>& slot)
{
    if (state.shut || !state.holds(slot) || slot->spare || slot->preparer.joinable() ||
        slot->browser->shows_windows() || !slot->browser->alive())
        return;
    slot->preparer = std::thread(open_spare, &state, slot.get());
}

// Ends the browser of a slot that the pool no longer holds, once its spare window is gone.
// Called without the state's lock.
void retire(BrowserPool::State& state, const std::shared_ptr<BrowserPool::Slot>& slot)
{
    std::unique_lock lock(state.mutex);
    std::thread preparing = std::move(slot->preparer);
    lock.unlock();
    if (preparing.joinable())
        preparing.join();
    lock.lock();
    auto spare = std::move(slot->spare);
    auto browser = std::move(slot->browser);
    lock.unlock();
    spare.reset();
    end(*browser);
}

void retire_all(BrowserPool::State& state, const Slots& slots)
{
    for (const auto& slot : slots)
        retire(state, slot);
}

}  // namespace

BrowserPool::BrowserPool(std::chrono::milliseconds idle_grace) : m_state(std::make_shared<State>(idle_grace)) {}

BrowserPool::~BrowserPool()
{
    Slots idle;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->shut = true;
        for (auto slot = m_state->shared.begin(); slot != m_state->shared.end();) {
            if (slot->second->idle) {
                idle.push_back(slot->second);
                slot = m_state->shared.erase(slot);
            } else {
                ++slot;
            }
        }
        m_state->changed.notify_all();
    }
    if (m_state->watcher.joinable())
        m_state->watcher.join();
    retire_all(*m_state, idle);
    std::lock_guard lock(m_state->mutex);
    m_state->count_running(-static_cast<int>(idle.size()));
}

int BrowserPool::running() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

std::shared_ptr<SharedBrowser> BrowserPool::lease_any(const std::string& key,
                                                      const std::function<std::unique_ptr<SharedBrowser>()>& start)
{
    auto hand_out = [state = m_state](const std::shared_ptr<Slot>& slot) {
        ++slot->leases;
        slot->idle = false;
        return std::shared_ptr<SharedBrowser>(slot->browser.get(),
                                              [state, slot](SharedBrowser*) { give_back(state, slot); });
    };
    std::lock_guard starting(m_start_mutex);
    Slots dead;
    if (!key.empty()) {
        std::lock_guard lock(m_state->mutex);
        auto found = m_state->shared.find(key);
        if (found != m_state->shared.end()) {
            auto slot = found->second;
            if (slot->browser->alive())
                return hand_out(slot);
            // Its pages, if any, fail as pages of a dead browser and end it with the last of them.
            m_state->shared.erase(found);
            if (slot->leases == 0)
                dead.push_back(slot);
        }
    }
    if (!dead.empty()) {
        retire_all(*m_state, dead);
        std::lock_guard lock(m_state->mutex);
        m_state->count_running(-1);
    }

    auto slot = std::make_shared<Slot>();
    slot->key = key;
    slot->browser = start();
    std::lock_guard lock(m_state->mutex);
    m_state->count_running(1);
    if (!key.empty())
        m_state->shared[key] = slot;
    return hand_out(slot);
}

std::unique_ptr<SpareWindow> BrowserPool::take_any_spare(const SharedBrowser& browser)
{
    std::shared_ptr<Slot> slot;
    std::thread preparing;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& [key, held] : m_state->shared) {
            if (held->browser.get() == &browser)
                slot = held;
        }
        if (!slot)
            return nullptr;
        preparing = std::move(slot->preparer);
    }
    // The window on its way is most of the way to the page already.
    if (preparing.joinable())
        preparing.join();
    std::lock_guard lock(m_state->mutex);
    auto spare = std::move(slot->spare);
    prepare_next(*m_state, slot);
    return spare;
}

void BrowserPool::give_back(const std::shared_ptr<State>& state, const std::shared_ptr<Slot>& slot)
{
    std::unique_lock lock(state->mutex);
    if (--slot->leases > 0)
        return;
    const bool shared = state->holds(slot);
    if (shared && !state->shut && state->idle_grace.count() > 0 && !slot->browser->shows_windows() &&
        slot->browser->alive()) {
        slot->idle = true;
        slot->idle_until = std::chrono::steady_clock::now() + state->idle_grace;
        if (!state->watching) {
            if (state->watcher.joinable())
                state->watcher.join();  // it has found nothing idle and is on its way out
            state->watching = true;
            hold_background_work(true);
            state->watcher = std::thread(watch_idle, state);
        }
        prepare_next(*state, slot);
        state->changed.notify_all();
        return;
    }
    if (shared)
        state->shared.erase(slot->key);
    lock.unlock();
    retire(*state, slot);
    lock.lock();
    state->count_running(-1);
}

void BrowserPool::watch_idle(std::shared_ptr<State> owner)
{
    // The pool joins this thread before its state can go, so the thread keeps no share of it: the
    // last share must never be dropped here, where the thread's own handle lives.
    State* state = owner.get();
    owner.reset();
    std::unique_lock lock(state->mutex);
    while (!state->shut) {
        const auto now = std::chrono::steady_clock::now();
        Slots over;
        std::optional<std::chrono::steady_clock::time_point> next;
        for (auto slot = state->shared.begin(); slot != state->shared.end();) {
            if (slot->second->idle && slot->second->idle_until <= now) {
                over.push_back(slot->second);
                slot = state->shared.erase(slot);
                continue;
            }
            if (slot->second->idle && (!next || slot->second->idle_until < *next))
                next = slot->second->idle_until;
            ++slot;
        }
        if (!over.empty()) {
            const int ended = static_cast<int>(over.size());
            lock.unlock();
            retire_all(*state, over);
            lock.lock();
            state->count_running(-ended);
            continue;
        }
        if (!next)
            break;
        state->changed.wait_until(lock, *next);
    }
    state->watching = false;
    hold_background_work(false);
}

}  // namespace varne::page
