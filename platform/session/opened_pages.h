#pragma once

#include "frame/automation_error.h"
#include "platform/session/json_session.h"

#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace varne {

// The pages that a connection to a browser that runs already opened there, and those opened from
// them: what closing the connection closes, while the user's own pages stay. Filled by a listener
// of the session on its reader thread, emptied by the owner's close().
class OpenedPages {
public:
    void add(const std::string& id)
    {
        std::lock_guard lock(m_mutex);
        m_ids.insert(id);
    }

    // Adds `id` when the page that opened it is one of these.
    void add_if_opened_by(const std::string& opener, const std::string& id)
    {
        std::lock_guard lock(m_mutex);
        if (m_ids.contains(opener))
            m_ids.insert(id);
    }

    // Forgets every page and closes each with `close_page` while `session` is open; a page that
    // is gone already is passed over.
    void close_all(const JsonSession& session, const std::function<void(const std::string&)>& close_page)
    {
        std::set<std::string> ids;
        {
            std::lock_guard lock(m_mutex);
            ids.swap(m_ids);
        }
        for (const auto& id : ids) {
            if (session.closed())
                break;
            try {
                close_page(id);
            } catch (const AutomationError&) {
                // Already closed by its page or by the user.
            }
        }
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_ids;
};

}  // namespace varne
