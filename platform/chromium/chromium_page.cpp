#include "platform/chromium/chromium_page.h"

#include <cctype>
#include <string_view>

#include "frame/automation_error.h"

namespace varne {

namespace {

// How long a document may take to get its execution context after it arrived.
constexpr std::chrono::milliseconds kContextTimeout{5000};
// A call refused because the page shows a modal dialog (the runtime's "call rejected").
constexpr int32_t kCallRejected = static_cast<int32_t>(0x80010001);

cdp::PageEvents events_into(PageState& state)
{
    return {
        .frame_attached = [&state](const std::string& id,
                                   const std::string& parent) { state.frame_attached(id, parent); },
        .frame_detached = [&state](const std::string& id) { state.frame_detached(id); },
        .frame_navigated = [&state](const std::string& id, const std::string& parent, const std::string& url,
                                    const std::string& origin) { state.frame_navigated(id, parent, url, origin); },
        .navigated_within_document = [&state](const std::string& id,
                                              const std::string& url) { state.navigated_within_document(id, url); },
        .navigation_started = [&state](const std::string& id) { state.navigation_started(id); },
        .frame_started_loading = [&state](const std::string& id) { state.frame_started_loading(id); },
        .frame_stopped_loading = [&state](const std::string& id) { state.frame_stopped_loading(id); },
        .top_content_loaded = [&state] { state.top_content_loaded(); },
        .frame_requested_navigation = [&state](const std::string& id) { state.navigation_requested(id); },
        .default_context_created = [&state](int64_t context,
                                            const std::string& id) { state.default_context_created(context, id); },
        .context_destroyed = [&state](int64_t context) { state.context_destroyed(context); },
        .contexts_cleared = [&state] { state.contexts_cleared(); },
        .dialog_opening =
            [&state](const std::string& type, const std::string& message, const std::string& default_prompt) {
                state.dialog_opening({type, message, default_prompt});
            },
        .dialog_closed = [&state](bool accepted) { state.dialog_closed(accepted); },
        .load_failed = [&state](const std::string&, const std::string& url,
                                const std::string& reason) { state.load_failed(url, reason); },
        .load_cancelled = [&state](const std::string& id, const std::string& url,
                                   const std::string& reason) { state.load_cancelled(id, url, reason); },
        .target_gone = [&state](const std::string& why) { state.page_gone(why); },
        .target_crashed = [&state] { state.page_crashed(); },
    };
}

bool is_script_address(const std::string& url)
{
    constexpr std::string_view kScheme = "javascript:";
    if (url.size() < kScheme.size())
        return false;
    for (size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i])
            return false;
    }
    return true;
}

}  // namespace

ChromiumPage::ChromiumPage(int32_t window_handle, bool headless)
    : m_window_handle(window_handle), m_headless(headless), m_host(open_browser_host(headless))
{
    m_client = std::make_unique<cdp::PageClient>(m_host->session(), events_into(m_state));
    m_state.set_main_frame(m_client->main_frame_id());
    if (!m_headless)
        m_window_handle = m_host->native_window().value_or(m_window_handle);
}

ChromiumPage::~ChromiumPage()
{
    close();
}

void ChromiumPage::close()
{
    m_client.reset();
    if (m_host)
        m_host->close();
}

void ChromiumPage::release_object(const std::string& object_id) noexcept
{
    if (m_client && !m_host->session().closed() && !m_state.gone() && !m_state.crashed())
        m_client->release_object(object_id);
}

void ChromiumPage::check_alive() const
{
    if (!m_client || m_host->session().closed())
        throw AutomationError(error_number::kServerUnavailable,
                              "The browser is gone: " +
                                  (m_client ? m_host->session().close_reason() : std::string("it was closed")));
    if (auto why = m_state.gone())
        throw AutomationError(error_number::kServerUnavailable, "The browser's page is gone: " + *why);
    if (m_state.crashed())
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the browser's page crashed; "
                              "GotoURL loads a fresh page");
}

void ChromiumPage::check_page_free() const
{
    check_alive();
    if (auto dialog = m_state.dialog())
        throw AutomationError(kCallRejected, "A JavaScript " + dialog->type +
                                                 " dialog is open in the page; answer it with PopupClickOk or "
                                                 "PopupClickCancel first");
}

int64_t ChromiumPage::context_for(const std::string& frame_id) const
{
    check_page_free();
    auto context = m_state.context_for(frame_id, kContextTimeout);
    check_page_free();
    if (!context)
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the frame holds no document");
    return *context;
}

void ChromiumPage::navigate(const std::string& frame_id, const std::string& url)
{
    // A crashed page comes back with a load of the whole window.
    if (m_state.crashed() && frame_id == m_state.main_frame_id())
        m_state.page_restarting();
    // Navigating away would answer an open dialog behind the script's back.
    check_page_free();
    m_state.navigation_requested(frame_id);
    bool started = false;
    try {
        started = m_client->navigate(url, frame_id);
    } catch (const ProtocolError& error) {
        m_state.navigation_refused(frame_id);
        // An address that the browser will not even try is a failed load, as a person sees it.
        if (error.kind() != ProtocolError::Kind::kBrowserError) {
            check_alive();
            throw;
        }
        m_state.load_failed(url, error.message());
        return;
    } catch (...) {
        m_state.navigation_refused(frame_id);
        throw;
    }
    // A javascript: address runs in the document shown and loads nothing, even when it opens a dialog.
    if (!started || is_script_address(url))
        m_state.navigation_refused(frame_id);
}

}  // namespace varne
