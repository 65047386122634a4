#include "page/browser_page.h"

#include <cctype>
#include <string_view>

#include "frame/automation_error.h"
#include "page/page_scripts.h"
#include "platform/session/session_bounds.h"

namespace varne::page {

namespace {

// A document's realm comes with an event of the browser, which a busy machine delays as it delays
// the answer to any command; a browser that is gone is told at each look.
constexpr std::chrono::milliseconds kRealmTimeout = session_bounds::kCommand;
// A call refused because the page shows a modal dialog (the runtime's "call rejected").
constexpr int32_t kCallRejected = static_cast<int32_t>(0x80010001);

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

BrowserPage::BrowserPage(Engine& engine, int32_t window_handle, bool headless)
    : m_window_handle(window_handle), m_headless(headless), m_delegate(engine.open_page(m_state, headless))
{
    m_state.set_main_frame(m_delegate->main_frame_id());
    if (!m_headless)
        m_window_handle = m_delegate->native_window().value_or(m_window_handle);
}

BrowserPage::~BrowserPage()
{
    close();
}

void BrowserPage::close()
{
    m_delegate->close();
}

void BrowserPage::leave_open()
{
    if (headless())
        m_delegate->close();
    else
        m_delegate->leave_open();
}

void BrowserPage::release_object(const std::string& handle) noexcept
{
    if (!m_delegate->connection_lost() && !m_state.gone() && !m_state.crashed())
        m_delegate->release(handle);
}

void BrowserPage::check_alive() const
{
    if (auto why = m_delegate->connection_lost())
        throw AutomationError(error_number::kServerUnavailable, "The browser is gone: " + *why);
    if (auto why = m_state.gone())
        throw AutomationError(error_number::kServerUnavailable, "The browser's page is gone: " + *why);
    if (m_state.crashed())
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the browser's page crashed; "
                              "GotoURL loads a fresh page");
}

void BrowserPage::check_page_free() const
{
    check_alive();
    if (auto dialog = m_state.dialog())
        throw AutomationError(kCallRejected, "A JavaScript " + dialog->type +
                                                 " dialog is open in the page; answer it with PopupClickOk or "
                                                 "PopupClickCancel first");
}

std::string BrowserPage::realm_for(const std::string& frame_id) const
{
    check_page_free();
    std::optional<std::string> realm;
    for (auto waited = std::chrono::milliseconds::zero(); !realm && waited < kRealmTimeout;
         waited += session_bounds::kProgressCheck) {
        realm = m_state.realm_of(frame_id, session_bounds::kProgressCheck);
        check_page_free();
        if (!m_state.has_frame(frame_id))
            break;
    }
    if (!realm)
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the frame holds no document");
    return *realm;
}

void BrowserPage::navigate(const std::string& frame_id, const std::string& url)
{
    // A crashed page comes back with a load of the whole window.
    if (m_state.crashed() && frame_id == m_state.main_frame_id())
        m_state.page_restarting();
    // Navigating away would answer an open dialog behind the script's back.
    check_page_free();
    m_state.navigation_requested(frame_id);
    NavigationStart start;
    try {
        start = m_delegate->navigate(frame_id, url);
    } catch (const TaskError& error) {
        m_state.navigation_refused(frame_id);
        if (error.cut_short())
            check_alive();
        throw;
    } catch (...) {
        m_state.navigation_refused(frame_id);
        throw;
    }
    if (start.outcome == NavigationStart::Outcome::kCutShort) {
        m_state.navigation_cut_short(frame_id, false);
        return;
    }
    // An address that the browser will not even try is a failed load, as a person sees it.
    if (start.outcome == NavigationStart::Outcome::kRefused) {
        m_state.navigation_refused(frame_id);
        m_state.load_failed(url, start.reason);
        return;
    }
    // A javascript: address runs in the document shown and loads nothing, even when it opens a dialog.
    if (start.outcome == NavigationStart::Outcome::kNoLoad || is_script_address(url))
        m_state.navigation_refused(frame_id);
}

void BrowserPage::hold_still() noexcept
{
    // Emptied first: a page busy with the navigations that its frames ask for may hold a script
    // back for long, while a navigation of a frame is the browser's own to carry out.
    for (const auto& frame_id : m_state.child_frames(m_state.main_frame_id())) {
        try {
            m_delegate->navigate(frame_id, "about:blank");
        } catch (...) {
            // A frame that went, or that the browser would not empty, is held by the script below.
        }
    }
    try {
        if (auto realm = m_state.realm_of(m_state.main_frame_id(), session_bounds::kProgressCheck))
            m_delegate->evaluate(*realm, std::string(scripts::kHoldStill), true);
    } catch (...) {
        // The document went, or will not run scripts: the navigation that follows replaces it all the same.
    }
}

}  // namespace varne::page
