#include "page/browser_pool.h"

#include "frame/server_locks.h"

#include <algorithm>
#include <deque>
#include <list>
#include <optional>
#include <system_error>
#include <vector>

namespace varne::page {

struct BrowserPool::Slot {
    std::string key;
    std::unique_ptr<SharedBrowser> browser;
    int leases = 0;
    bool idle = false;
    std::chrono::steady_clock::time_point idle_until;
    // The windows opened ahead for the next pages, oldest first, and the threads that open them;
    // all go before the browser ends.
    std::deque<std::unique_ptr<SpareWindow>> spares;
    struct Preparer {
        std::thread thread;
        bool done = false;
    };
    std::list<Preparer> preparers;
    std::condition_variable spare_came;

    // The windows still being opened.
    size_t on_the_way() const
    {
        return static_cast<size_t>(
            std::ranges::count_if(preparers, [](const Preparer& preparer) { return !preparer.done; }));
    }
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

// How many windows a browser keeps opened ahead, or on their way. A script that creates pages back
// to back outruns the start of one renderer on a busy machine; two starting side by side keep up.
constexpr size_t kSparesAhead = 2;

void open_spare(BrowserPool::State* state, BrowserPool::Slot* slot, BrowserPool::Slot::Preparer* preparer)
{
    std::unique_ptr<SpareWindow> spare;
    try {
        spare = slot->browser->open_spare_window();
    } catch (...) {
        // The next page opens its window itself, and fails there if the browser does.
    }
    std::lock_guard lock(state->mutex);
    if (spare)
        slot->spares.push_back(std::move(spare));
    preparer->done = true;
    slot->spare_came.notify_all();
}

// Starts opening windows ahead for the next pages in a browser that the pool holds, up to the
// number it keeps. Called under the state's lock.
void prepare_next(BrowserPool::State& state, const std::shared_ptr<BrowserPool::Slot>& slot)
{
    std::erase_if(slot->preparers, [](BrowserPool::Slot::Preparer& preparer) {
        if (preparer.done)
            preparer.thread.join();  // it marked itself done under the lock held here: it is on its way out
        return preparer.done;
    });
    if (state.shut || !state.holds(slot) || slot->browser->shows_windows() || !slot->browser->alive())
        return;
    while (slot->spares.size() + slot->on_the_way() < kSparesAhead) {
        auto& preparer = slot->preparers.emplace_back();
        try {
            preparer.thread = std::thread(open_spare, &state, slot.get(), &preparer);
        } catch (const std::system_error&) {
            slot->preparers.pop_back();  // the next page opens its window itself
            return;
        }
    }
}

// Ends the browser of a slot that the pool no longer holds, once its spare windows are gone.
// Called without the state's lock.
void retire(BrowserPool::State& state, const std::shared_ptr<BrowserPool::Slot>& slot)
{
    std::unique_lock lock(state.mutex);
    auto preparing = std::move(slot->preparers);
    lock.unlock();
    for (auto& preparer : preparing)
        preparer.thread.join();
    lock.lock();
    auto spares = std::move(slot->spares);
    auto browser = std::move(slot->browser);
    lock.unlock();
    spares.clear();
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
    // A watcher that saw the pool shut leaves itself, and its hold, to be ended here.
    if (m_state->watcher.joinable()) {
        m_state->watcher.join();
        hold_background_work(false);
    }
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

std::shared_ptr<BrowserPool::Slot> BrowserPool::slot_of(const SharedBrowser& browser) const
{
    for (const auto& [key, held] : m_state->shared) {
        if (held->browser.get() == &browser)
            return held;
    }
    return nullptr;
}

std::unique_ptr<SpareWindow> BrowserPool::take_any_spare(const SharedBrowser& browser)
{
    std::unique_lock lock(m_state->mutex);
    const auto slot = slot_of(browser);
    if (!slot)
        return nullptr;
    // A window on its way is most of the way to the page already.
    slot->spare_came.wait(lock, [&] { return !slot->spares.empty() || slot->on_the_way() == 0; });
    if (slot->spares.empty())
        return nullptr;
    auto spare = std::move(slot->spares.front());
    slot->spares.pop_front();
    return spare;
}

void BrowserPool::open_spares(const SharedBrowser& browser)
{
    std::lock_guard lock(m_state->mutex);
    if (const auto slot = slot_of(browser))
        prepare_next(*m_state, slot);
}

void BrowserPool::give_back(const std::shared_ptr<State>& state, const std::shared_ptr<Slot>& slot)
{
    std::unique_lock lock(state->mutex);
    if (--slot->leases > 0)
        return;
    const bool shared = state->holds(slot);
    bool may_wait = shared && !state->shut && state->idle_grace.count() > 0 && !slot->browser->shows_windows() &&
                    slot->browser->alive();
    if (may_wait && !state->watching) {
        try {
            state->watcher = std::thread(watch_idle, state);
            state->watching = true;
            hold_background_work(true);
        } catch (const std::system_error&) {
            // No thread starts while the process ends (a script host releasing its objects on its
            // way out): nothing could end the browser later, so it ends now.
            may_wait = false;
        }
    }
    if (may_wait) {
        slot->idle = true;
        slot->idle_until = std::chrono::steady_clock::now() + state->idle_grace;
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
    State* state = owner.get();
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
    // Its handle leaves the state, which may then go with the share held here.
    if (!state->shut)
        drop_background_work_when_gone(std::move(state->watcher));
}

}  // namespace varne::page
