#include "page/browser_registry.h"

#include <limits>

namespace varne::page {

BrowserRegistry::~BrowserRegistry()
{
    for (auto& [window, page] : m_pages) {
        auto running = page.lock();
        if (running && running->headless())
            running->close();
    }
}

int32_t BrowserRegistry::next_window()
{
    std::lock_guard lock(m_mutex);
    m_next += kWindowStep;
    return m_next;
}

void BrowserRegistry::add(const std::shared_ptr<BrowserPage>& page)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pages, [](const auto& entry) { return entry.second.expired(); });
    m_pages[page->window_handle()] = page;
}

std::pair<std::shared_ptr<BrowserPage>, int32_t> BrowserRegistry::find(int32_t handle)
{
    std::lock_guard lock(m_mutex);
    for (int32_t offset = 0; offset <= kCancelButtonOffset; ++offset) {
        if (handle < std::numeric_limits<int32_t>::min() + offset)
            break;
        auto found = m_pages.find(handle - offset);
        if (found != m_pages.end())
            return {found->second.lock(), offset};
    }
    return {};
}

BrowserRegistry& browser_registry()
{
    static BrowserRegistry browsers;
    return browsers;
}

}  // namespace varne::page
