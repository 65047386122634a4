#include "browser/browser.h"

#include <string>
#include <utility>

#include "browser/collection_walk.h"
#include "browser/common.h"
#include "browser/log_text.h"
#include "platform/win32_api.h"

namespace varne {

namespace {

constexpr int16_t kPopupPollMs = 100;
constexpr int16_t kLongestPopupTimeout = 30;
constexpr char16_t kBrowserLoadTiming[] = u"BrowserLoad";
constexpr char16_t kFrameLoadTiming[] = u"FrameLoad";
constexpr char16_t kPopupTiming[] = u"BrowserClickPopupButton";

}  // namespace

Browser::Browser(BrowserPorts ports)
    : m_win32(ports.windows, ports.clock),
      m_application(ports.launcher.start_application()),
      m_logging(std::move(ports.logging)),
      m_timing(std::move(ports.timing))
{
    m_window_handle = m_application->HWND();
    m_application->set_Visible(true);
}

void Browser::release_step() noexcept
{
    // A release has no caller to report to: a log that cannot be closed stays as far as it was written.
    try {
        m_logging->EndLog();
    } catch (...) {
    }
    m_timing = nullptr;
    m_logging = nullptr;
    // The application is only let go, never told to quit: its window stays open.
    m_application = nullptr;
}

// Texts from a page or an address may hold line breaks; written as they are, they would make
// entries of their own that a reader could not tell from the library's.
void Browser::log(const BStr& text)
{
    m_logging->AppendLog(log_line_text(text));
}

BStr Browser::end_timing(const BStr& timing_name)
{
    m_timing->EndTiming(timing_name);
    m_last_action_ms = m_timing->GetLapsedMilliseconds(timing_name);
    return m_timing->LapsedString(timing_name);
}

AutomationError Browser::invalid_seconds(std::u16string_view member, int16_t seconds, std::string_view allowed)
{
    return AutomationError(error_number::kInvalidProcedureCall,
                           "Invalid procedure call or argument: Seconds of " + to_utf8(member) + " must be " +
                               std::string(allowed) + " (given " + std::to_string(seconds) + ")");
}

void Browser::SetBrowserLog(const BStr& LogName)
{
    if (!m_logging->IsOpen())
        m_logging->StartLog(LogName);
}

void Browser::CloseBrowserLog()
{
    if (m_logging->IsOpen())
        m_logging->EndLog();
}

int32_t Browser::GetBrowserHWnd()
{
    return m_window_handle;
}

Ref<Dispatch> Browser::GetBrowser()
{
    return m_application;
}

int32_t Browser::GetLastActionMilliseconds()
{
    return m_last_action_ms;
}

void Browser::forget_load_failures()
{
    m_application->take_load_failures();
}

// The window functions answer the window itself while it owns no popup.
bool Browser::dialog_open()
{
    int32_t popup = m_win32.GetLastActivePopup(m_window_handle);
    return popup != 0 && popup != m_window_handle;
}

void Browser::log_load(const BStr& timing_name, const BStr& text)
{
    for (const auto& failure : m_application->take_load_failures())
        log(u"Could not load " + quoted(failure.url) + u": " + failure.reason);
    log(text + u" [" + end_timing(timing_name) + u"]");
}

void Browser::GotoURL(const BStr& URL)
{
    m_timing->StartTiming(kBrowserLoadTiming);
    forget_load_failures();
    m_application->Navigate(URL);
    WaitForBrowser();
    // A navigation that the browser never carried out (a reply without content, a download, an
    // address it refused) leaves the page that was there, which a script must not take for the new one.
    BStr text = dialog_open() ? u"Dialog open while loading " + quoted(URL) + u"."
                : m_application->navigation_shown()
                    ? u"Browser set to " + quoted(URL) + u"."
                    : u"Browser not set to " + quoted(URL) + u": the page shown stayed.";
    log_load(kBrowserLoadTiming, text);
}

int16_t Browser::FrameGotoURL(int16_t FrameNumber, const BStr& URL)
{
    if (m_application->Document()->frames()->length() <= FrameNumber) {
        log(u"Invalid frame number (" + decimal(FrameNumber) + u") specified for base URL " +
            m_application->LocationURL());
        return -1;
    }
    m_timing->StartTiming(kFrameLoadTiming);
    forget_load_failures();
    m_application->Document()->frames()->item(FrameNumber)->set_location(URL);
    wait_for_frame(*m_application->Document()->frames()->item(FrameNumber));
    log_load(kFrameLoadTiming,
             dialog_open() ? u"Dialog open while loading frame " + decimal(FrameNumber) + u" with " + quoted(URL) + u"."
                           : u"Frame " + decimal(FrameNumber) + u" set to " + quoted(URL) + u".");
    return 0;
}

int16_t Browser::PopupClickOk()
{
    return BrowserClickPopupButton(u"OK");
}

int16_t Browser::PopupClickCancel()
{
    return BrowserClickPopupButton(u"Cancel");
}

int16_t Browser::BrowserClickPopupButton(const BStr& Caption)
{
    m_timing->StartTiming(kPopupTiming);
    int16_t& waited = Common::wait_counter();
    waited = 0;
    int32_t popup = 0;
    // The window functions answer the window itself while it owns no popup. After the wait
    // that reaches the budget no further check is made.
    while (waited < m_popup_budget_ms) {
        popup = m_win32.GetLastActivePopup(m_window_handle);
        if (popup != m_window_handle)
            break;
        m_win32.Sleep(kPopupPollMs);
        waited = checked_add(waited, kPopupPollMs);
    }
    if (waited >= m_popup_budget_ms) {
        log(u"Popup window timed out");
        return -1;
    }
    if (popup == 0) {
        log(u"Error locating popup window");
        return -2;
    }
    if (Common::ClickWindowButton(m_win32, popup, Caption) < 0) {
        log(u"Error clicking button");
        return -3;
    }
    log(u"Popup " + quoted(Caption) + u" button clicked [" + end_timing(kPopupTiming) + u"]");
    return 0;
}

void Browser::SetPopupTimeout(int16_t Seconds)
{
    if (Seconds < 1 || Seconds > kLongestPopupTimeout)
        throw invalid_seconds(u"SetPopupTimeout", Seconds, "1 to 30");
    m_popup_budget_ms = static_cast<int16_t>(Seconds * 1000);
}

}  // namespace varne
