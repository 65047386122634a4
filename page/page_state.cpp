#include "page/page_state.h"

#include <algorithm>
#include <utility>

namespace varne::page {

void PageState::set_main_frame(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    m_main_frame_id = frame_id;
    if (frame(frame_id).url.empty())
        frame(frame_id).url = "about:blank";
}

std::string PageState::main_frame_id() const
{
    std::lock_guard lock(m_mutex);
    return m_main_frame_id;
}

PageState::Frame& PageState::frame(const std::string& frame_id)
{
    return m_frames[frame_id];
}

bool PageState::busy(const Frame& frame) const
{
    return frame.requested > 0 || frame.loading;
}

void PageState::frame_attached(const std::string& frame_id, const std::string& parent_id)
{
    std::lock_guard lock(m_mutex);
    frame(frame_id).parent = parent_id;
    auto& siblings = frame(parent_id).children;
    if (std::find(siblings.begin(), siblings.end(), frame_id) == siblings.end())
        siblings.push_back(frame_id);
    m_changed.notify_all();
}

void PageState::forget(const std::string& frame_id)
{
    auto found = m_frames.find(frame_id);
    if (found == m_frames.end())
        return;
    for (const auto& child : std::vector<std::string>(found->second.children))
        forget(child);
    auto parent = m_frames.find(found->second.parent);
    if (parent != m_frames.end())
        std::erase(parent->second.children, frame_id);
    forget_resources(found->second);
    m_frames.erase(frame_id);
}

void PageState::frame_detached(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    forget(frame_id);
    m_changed.notify_all();
}

void PageState::frame_navigated(const std::string& frame_id, const std::string& parent_id, const std::string& url,
                                const std::string& origin)
{
    std::lock_guard lock(m_mutex);
    Frame& committed = frame(frame_id);
    if (!parent_id.empty())
        committed.parent = parent_id;
    // The new document brings frames of its own; those of the old one are gone.
    for (const auto& child : std::vector<std::string>(committed.children))
        forget(child);
    committed.children.clear();
    forget_resources(committed);
    committed.requested = 0;
    ++committed.generation;
    ++committed.addresses_shown;
    committed.content_loaded = false;
    committed.url = url;
    committed.origin = origin;
    committed.status = std::exchange(committed.answered, 0);
    committed.committed = true;
    if (frame_id == m_main_frame_id)
        m_script_navigation.pending = false;
    m_changed.notify_all();
}

void PageState::navigated_within_document(const std::string& frame_id, const std::string& url)
{
    std::lock_guard lock(m_mutex);
    Frame& navigated = frame(frame_id);
    navigated.url = url;
    navigated.committed = true;
    ++navigated.addresses_shown;
    if (frame_id == m_main_frame_id)
        m_script_navigation.pending = false;
}

void PageState::frame_started_loading(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    frame(frame_id).loading = true;
    m_changed.notify_all();
}

void PageState::frame_stopped_loading(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    // A navigation asked for while this load ran (a click that reloads and submits at once, the
    // submit cancelling the reload) is still to begin: the frame loads on.
    Frame& stopped = frame(frame_id);
    stopped.loading = false;
    if (!m_starts_announced)
        stopped.requested = 0;
    m_changed.notify_all();
}

void PageState::top_content_loaded()
{
    std::lock_guard lock(m_mutex);
    frame(m_main_frame_id).content_loaded = true;
    m_changed.notify_all();
}

void PageState::resource_requested(const std::string& frame_id, const std::string& request_id)
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    if (found == m_frames.end())
        return;
    found->second.resources.insert(request_id);
    m_resource_frames[request_id] = frame_id;
}

void PageState::resource_finished(const std::string& request_id)
{
    std::lock_guard lock(m_mutex);
    auto request = m_resource_frames.find(request_id);
    if (request == m_resource_frames.end())
        return;
    if (auto found = m_frames.find(request->second); found != m_frames.end())
        found->second.resources.erase(request_id);
    m_resource_frames.erase(request);
    m_changed.notify_all();
}

void PageState::forget_resources(Frame& frame)
{
    for (const auto& request_id : frame.resources)
        m_resource_frames.erase(request_id);
    frame.resources.clear();
}

bool PageState::only_frames_load(const Frame& frame) const
{
    // The document shown is on its way out once the navigation that replaces it has begun.
    if (!frame.content_loaded || !frame.committed || !frame.resources.empty() || frame.children.empty())
        return false;
    bool frame_loads = false;
    for (const auto& id : frame.children) {
        auto child = m_frames.find(id);
        if (child == m_frames.end())
            continue;
        // A frame that has not begun to load yet could still be taken for a loaded one.
        if (child->second.generation == 0 && !busy(child->second))
            return false;
        frame_loads = frame_loads || busy(child->second) || only_frames_load(child->second);
    }
    return frame_loads;
}

void PageState::navigation_requested(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    ++frame(frame_id).requested;
    forget_cancelled_loads(frame_id);
    window_navigation_begins(frame_id);
}

void PageState::navigation_started(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    m_starts_announced = true;
    Frame& started = frame(frame_id);
    started.requested = std::max(started.requested - 1, 0);
    started.loading = true;
    started.answered = 0;
    started.committed = false;
    forget_cancelled_loads(frame_id);
    window_navigation_begins(frame_id);
    if (frame_id == m_main_frame_id && m_script_navigation.pending && ++m_script_navigation.starts > 1)
        m_script_navigation.overtaken = true;
    m_changed.notify_all();
}

void PageState::navigation_refused(const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    if (found != m_frames.end() && !found->second.loading)
        found->second.requested = std::max(found->second.requested - 1, 0);
    if (frame_id == m_main_frame_id)
        m_script_navigation.pending = false;
}

void PageState::navigation_cut_short(const std::string& frame_id, bool begun)
{
    std::lock_guard lock(m_mutex);
    if (!begun) {
        Frame& cut = frame(frame_id);
        cut.requested = std::max(cut.requested - 1, 0);
    }
    if (frame_id == m_main_frame_id && m_script_navigation.pending)
        m_script_navigation.overtaken = true;
    m_changed.notify_all();
}

void PageState::script_navigation_asked()
{
    std::lock_guard lock(m_mutex);
    m_script_navigation = {.pending = true};
}

bool PageState::script_navigation_overtaken() const
{
    std::lock_guard lock(m_mutex);
    return m_script_navigation.overtaken;
}

void PageState::realm_created(const std::string& realm_id, const std::string& frame_id)
{
    std::lock_guard lock(m_mutex);
    frame(frame_id).realm = realm_id;
    m_changed.notify_all();
}

void PageState::realm_destroyed(const std::string& realm_id)
{
    std::lock_guard lock(m_mutex);
    for (auto& [id, each] : m_frames) {
        if (each.realm == realm_id)
            each.realm.reset();
    }
}

void PageState::realms_cleared()
{
    std::lock_guard lock(m_mutex);
    for (auto& [id, each] : m_frames)
        each.realm.reset();
}

void PageState::dialog_opening(Dialog dialog)
{
    std::lock_guard lock(m_mutex);
    m_dialog = std::move(dialog);
    m_changed.notify_all();
}

void PageState::dialog_closed(bool accepted)
{
    std::lock_guard lock(m_mutex);
    if (m_dialog && m_dialog->type == "beforeunload" && !accepted) {
        for (auto& [id, each] : m_frames)
            each.requested = 0;
        m_script_navigation.pending = false;
    }
    m_dialog.reset();
    m_changed.notify_all();
}

void PageState::document_answered(const std::string& frame_id, int32_t status)
{
    std::lock_guard lock(m_mutex);
    Frame& answered = frame(frame_id);
    (answered.committed ? answered.status : answered.answered) = status;
}

void PageState::record(RecordedFailure failure)
{
    m_window_failures.push_back(failure);
    m_failures.push_back(std::move(failure));
}

void PageState::load_failed(const std::string& url, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    record({{url, reason}, {}});
}

void PageState::load_cancelled(const std::string& frame_id, const std::string& url, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    if (frame(frame_id).requested == 0)
        record({{url, reason}, frame_id});
    // The script's navigation ended without a document (a reply without content, a download): the
    // page shown stays, and its later navigations are its own. One that a navigation of the page
    // cut short may end without a word, and is still the script's.
    if (frame_id == m_main_frame_id && m_script_navigation.starts > 0)
        m_script_navigation.pending = false;
}

void PageState::forget_cancelled_loads(const std::string& frame_id)
{
    auto cancelled_here = [&](const RecordedFailure& each) { return each.cancelled_in == frame_id; };
    std::erase_if(m_failures, cancelled_here);
    std::erase_if(m_window_failures, cancelled_here);
}

void PageState::window_navigation_begins(const std::string& frame_id)
{
    if (frame_id == m_main_frame_id)
        m_window_failures.clear();
}

std::vector<PageState::LoadFailure> PageState::failures_since_navigation() const
{
    std::lock_guard lock(m_mutex);
    std::vector<LoadFailure> failures;
    for (const auto& each : m_window_failures)
        failures.push_back(each.failure);
    return failures;
}

int32_t PageState::status_of(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? 0 : found->second.status;
}

std::vector<PageState::LoadFailure> PageState::take_load_failures()
{
    std::lock_guard lock(m_mutex);
    std::vector<LoadFailure> failures;
    for (auto& each : std::exchange(m_failures, {}))
        failures.push_back(std::move(each.failure));
    return failures;
}

void PageState::page_gone(const std::string& why)
{
    std::lock_guard lock(m_mutex);
    if (!m_gone)
        m_gone = why;
    m_changed.notify_all();
}

void PageState::page_crashed()
{
    std::lock_guard lock(m_mutex);
    m_crashed = true;
    m_changed.notify_all();
}

void PageState::page_restarting()
{
    std::lock_guard lock(m_mutex);
    m_crashed = false;
    m_dialog.reset();
    m_script_navigation = {};
    for (auto& [id, each] : m_frames) {
        each.realm.reset();
        each.loading = false;
        each.requested = 0;
        each.answered = 0;
        each.committed = false;
    }
}

bool PageState::crashed() const
{
    std::lock_guard lock(m_mutex);
    return m_crashed;
}

int32_t PageState::ready_state() const
{
    std::lock_guard lock(m_mutex);
    const Frame& main = m_frames.at(m_main_frame_id);
    // A dialog stops the page's scripts, and with them its load; once its document has arrived
    // the page is as loaded as it will get until the dialog is answered. A "leave this page?"
    // dialog asks before the navigation begins: the page shown is loaded.
    if (m_dialog)
        return main.requested > 0 && m_dialog->type != "beforeunload" ? 1 : 4;
    if (main.requested > 0 || (main.loading && !only_frames_load(main)))
        return 1;
    return 4;
}

bool PageState::frame_ready(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    if (found == m_frames.end())
        return false;
    if (m_dialog)
        return m_dialog->type == "beforeunload" || found->second.requested == 0;
    return !busy(found->second);
}

bool PageState::has_frame(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    return m_frames.contains(frame_id);
}

uint64_t PageState::generation(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? UINT64_MAX : found->second.generation;
}

uint64_t PageState::addresses_shown(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? 0 : found->second.addresses_shown;
}

std::vector<std::string> PageState::child_frames(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? std::vector<std::string>() : found->second.children;
}

std::string PageState::parent_of(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? std::string() : found->second.parent;
}

std::string PageState::origin_of(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? std::string() : found->second.origin;
}

std::string PageState::url_of(const std::string& frame_id) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_frames.find(frame_id);
    return found == m_frames.end() ? std::string() : found->second.url;
}

std::optional<PageState::Dialog> PageState::dialog() const
{
    std::lock_guard lock(m_mutex);
    return m_dialog;
}

std::optional<std::string> PageState::gone() const
{
    std::lock_guard lock(m_mutex);
    return m_gone;
}

std::optional<std::string> PageState::realm_of(const std::string& frame_id, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    std::optional<std::string> realm;
    m_changed.wait_for(lock, timeout, [&] {
        auto found = m_frames.find(frame_id);
        if (found != m_frames.end())
            realm = found->second.realm;
        return realm.has_value() || found == m_frames.end() || m_gone || m_crashed || m_dialog;
    });
    return realm;
}

}  // namespace varne::page
