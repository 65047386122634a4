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

// A browser that pages share, as the pool sees it.
class SharedBrowser {
public:
    virtual ~SharedBrowser() = default;
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

    // The number of browsers held: in use or waiting idle.
    int running() const;

private:
    struct Slot;
    struct State;

    std::shared_ptr<SharedBrowser> lease_any(const std::string& key,
                                             const std::function<std::unique_ptr<SharedBrowser>()>& start);
    static void give_back(const std::shared_ptr<State>& state, const std::shared_ptr<Slot>& slot);
    static void watch_idle(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::mutex m_start_mutex;
};

}  // namespace varne::page
