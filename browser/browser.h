#pragma once

#include <string_view>

#include "dom/object_model.h"
#include "frame/automation_error.h"
#include "frame/interfaces.h"
#include "platform/win32_api.h"

namespace varne {

// What a Browser is made with: the port that starts its browser application, the window functions
// and the clock of its waits and popup search, and a Logging and a Timing of its own.
struct BrowserPorts {
    dom::BrowserLauncher& launcher;
    WindowFunctions& windows;
    Clock& clock;
    Ref<_Logging> logging;
    Ref<_Timing> timing;
};

// One browser window for the life of the object: navigation, readiness waits, element
// search, clicks and popup answers, each timed and logged through private Timing and Logging.
class Browser final : public _Browser {
public:
    // Starts a browser application and shows its window; fails with an AutomationError when
    // no browser can be started.
    explicit Browser(BrowserPorts ports);

    void SetBrowserLog(const BStr& LogName) override;
    void CloseBrowserLog() override;
    int32_t GetBrowserHWnd() override;
    Ref<Dispatch> GetBrowser() override;
    int16_t FrameGotoURL(int16_t FrameNumber, const BStr& URL) override;
    void GotoURL(const BStr& URL) override;
    // Both waits poll every 100 ms and give a part up after a failed check that follows
    // 30000 ms of sleep: -1 and a time-out line in the log. Object-model faults are raised, but
    // WaitForBrowser walks again from the window's newest document when a frame goes meanwhile.
    // Both return at once while a JavaScript dialog holds the page.
    int16_t WaitForBrowser() override;
    int16_t WaitForFrame(const Ref<Dispatch>& Window) override;
    int16_t MatchInnerText(const Ref<Dispatch>& Document, const BStr& SearchString, const BStr& Tag,
                           BrowserMatchType MatchType, int16_t Occurrence) override;
    int16_t FormExists(const Ref<Dispatch>& Document, const BStr& FormName) override;
    int16_t ImageExists(const Ref<Dispatch>& Document, const BStr& ImageText, BrowserIdentType IdentMethod) override;
    int16_t LinkExists(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod) override;
    // The clicks wait for the window after the click; a wait that runs out still ends in 0.
    int16_t ClickLink(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod,
                      int16_t Occurrence) override;
    int16_t ClickFormButton(const Ref<Dispatch>& FormElement, const BStr& Button, int16_t Occurrence) override;
    // Both search for a popup of the window for 30000 ms of sleep (300 waits of 100 ms), or for the
    // time SetPopupTimeout set, then give -1.
    int16_t PopupClickOk() override;
    int16_t PopupClickCancel() override;
    int32_t GetLastActionMilliseconds() override;
    // Both look into the top document and every frame's document that may be read (another
    // origin's may not), at once and after every 100 ms of sleep, until Seconds of sleep have
    // passed: then -1 and a time-out line in the log.
    int16_t WaitForText(const BStr& Text, int16_t Seconds) override;
    int16_t WaitForElement(const BStr& Selector, int16_t Seconds) override;
    // 1 to 30 seconds for the popup members' search.
    void SetPopupTimeout(int16_t Seconds) override;

private:
    void release_step() noexcept override;

    int16_t ClickTextLink(dom::Document& document, const BStr& LinkText, int16_t Occurrence);
    int16_t ClickGraphicLink(dom::Document& document, const BStr& LinkText, BrowserIdentType IdentMethod,
                             int16_t Occurrence);
    int16_t BrowserClickPopupButton(const BStr& Caption);

    // The top document's applets and frames, once the top document has loaded.
    int16_t wait_for_parts_of_top();
    int16_t wait_for_frame(dom::FrameWindow& window);
    // Polls until `shown` holds for some readable document of the window.
    template <class Shown>
    bool wait_until_shown(int16_t seconds, std::u16string_view member, Shown&& shown);
    // A member that loads forgets the failures of earlier loads before it sets its load off. After
    // the wait it logs the failures of its own load, the address and the browser's reason one entry
    // each, and then its own `text` with the lapsed text of its stopwatch.
    void forget_load_failures();
    void log_load(const BStr& timing_name, const BStr& text);
    // Whether a JavaScript dialog holds the page. A dialog stops the page's scripts and with them
    // its load, so the waits return at once while one is open, and the navigating members say so.
    bool dialog_open();
    // Ends the named stopwatch, keeps its milliseconds as the last action's and gives its lapsed text.
    BStr end_timing(const BStr& timing_name);
    void log(const BStr& text);
    static AutomationError invalid_seconds(std::u16string_view member, int16_t seconds, std::string_view allowed);

    Win32API m_win32;
    Ref<dom::Application> m_application;
    int32_t m_window_handle = 0;
    Ref<_Logging> m_logging;
    Ref<_Timing> m_timing;
    int32_t m_last_action_ms = -1;
    int16_t m_popup_budget_ms = 30000;
};

}  // namespace varne
