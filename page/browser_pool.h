#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One running browser serves every page that an engine opens at one place (a local program,
// headless or headed; an attached browser) while any of them lives: a page then costs a new
// isolated context and window rather than a new process. The pool holds the lifetime rules that
// every engine follows; an engine names what it shares and how to start it.
namespace varne::page {

// A window in an isolated context of its own, opened ahead in a shared browser so that the next
// page finds one ready; nobody has used it. Its destructor disposes of both, never raising.
class SpareWindow {
public:
    virtual ~SpareWindow() = default;
};

// A browser that pages share, as the pool sees it.
class SharedBrowser {
public:
    virtual ~SharedBrowser() = default;
    // Opens a spare window; called on a thread of the pool's own while pages use the browser, and
    // never once the browser is being ended. Nothing where the browser keeps no spare (the
    // default). May raise: the next page then opens its own window.
    virtual std::unique_ptr<SpareWindow> open_spare_window() { return nullptr; }
    // Whether it still answers; a browser that died is never handed out again.
    virtual bool alive() const = 0;
    // Whether a person may see its windows: it is then let go of at once when its last page is
    // gone, rather than kept a moment for the next page or ended.
    virtual bool shows_windows() const = 0;
    // Called once its last page is gone (and its idle moment, if any, is over), on any thread.
    // Never raise. close() ends it and leaves nothing behind; leave_open() lets go of one that
    // shows windows, leaving it running for them with nothing of it kept in this process.
    virtual void close() noexcept = 0;
    virtual void leave_open() noexcept = 0;
};

class BrowserPool {
public:
    // `idle_grace`: how long a browser that may wait idle stays for the next page.
    explicit BrowserPool(std::chrono::milliseconds idle_grace);
    // Ends every browser that waits idle; a browser whose pages still live ends with the last of them.
    ~BrowserPool();
    BrowserPool(const BrowserPool&) = delete;
    BrowserPool& operator=(const BrowserPool&) = delete;

    // The browser running under `key`, or a new one from `start` when none runs there or it died
    // (an empty key is never shared: every call starts one). The browser lives at least as long as
    // the returned pointer; raises what `start` raises. Starts are made one at a time, so that
    // pages asked for together share the one browser that the first of them starts.
    template <class Browser>
    std::shared_ptr<Browser> lease(const std::string& key, const std::function<std::unique_ptr<Browser>()>& start)
    {
        std::shared_ptr<SharedBrowser> shared = lease_any(key, [&start] { return start(); });
        Browser* browser = static_cast<Browser*>(shared.get());
        return std::shared_ptr<Browser>(std::move(shared), browser);
    }

    // The oldest spare window that the pool opened ahead in `browser` (a browser it leased and that
    // is held, so still in use), waiting for one on its way; nothing when it has none. A browser that
    // shows windows to a person never has one: it would show it.
    template <class Window>
    std::unique_ptr<Window> take_spare(const SharedBrowser& browser)
    {
        return std::unique_ptr<Window>(static_cast<Window*>(take_any_spare(browser).release()));
    }
    // Starts opening spare windows in `browser` (leased and held) for the pages to come, up to the
    // number kept. Called once a page has its window: their renderers' start would slow it.
    void open_spares(const SharedBrowser& browser);

    // The number of browsers held: in use or waiting idle.
    int running() const;

    // The pool's own bookkeeping, opaque outside its source.
    struct Slot;
    struct State;

private:
    std::shared_ptr<SharedBrowser> lease_any(const std::string& key,
                                             const std::function<std::unique_ptr<SharedBrowser>()>& start);
    std::unique_ptr<SpareWindow> take_any_spare(const SharedBrowser& browser);
    std::shared_ptr<Slot> slot_of(const SharedBrowser& browser) const;
    static void give_back(const std::shared_ptr<State>& state, const std::shared_ptr<Slot>& slot);
    static void watch_idle(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::mutex m_start_mutex;
};

}  // namespace varne::page
