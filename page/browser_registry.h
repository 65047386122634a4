#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "page/browser_page.h"

namespace varne::page {

// Window handles of the library's own count in steps, so that a browser's dialog and its buttons
// have handles of their own; a real window's handle is followed the same way.
constexpr int32_t kFirstWindow = 0x00010000;
constexpr int32_t kWindowStep = 16;
constexpr int32_t kDialogOffset = 1;
constexpr int32_t kOkButtonOffset = 2;
constexpr int32_t kCancelButtonOffset = 3;

// Every browser page that this process opened, by window handle, while its application or an
// object of its page lives. A headed browser's window stays open, with its last page, after its
// application is released and after this process ends, as a window that a person can see and
// close; its browser keeps itself running without this process. Every headless one still
// running at exit is closed.
class BrowserRegistry {
public:
    ~BrowserRegistry();

    // A window handle of the library's own for a new browser.
    int32_t next_window();
    void add(const std::shared_ptr<BrowserPage>& page);
    // The browser whose window, dialog or button has this handle, and the offset within it.
    // A window's own handle is looked for first: a real window's handle may lie within the
    // offsets of another's.
    std::pair<std::shared_ptr<BrowserPage>, int32_t> find(int32_t handle);

private:
    std::mutex m_mutex;
    int32_t m_next = kFirstWindow;
    std::map<int32_t, std::weak_ptr<BrowserPage>> m_pages;
};

// The browsers of this process.
BrowserRegistry& browser_registry();

}  // namespace varne::page
