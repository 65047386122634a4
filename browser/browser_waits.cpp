#include "browser/browser.h"

#include "browser/collection_walk.h"
#include "browser/common.h"
#include "browser/log_text.h"
#include "platform/win32_api.h"

namespace varne {

namespace {

constexpr int16_t kPollIntervalMs = 100;
constexpr int16_t kWaitBudgetMs = 30000;
constexpr int32_t kApplicationReady = 4;
constexpr int32_t kAppletReady = 4;
constexpr char16_t kDocumentReady[] = u"complete";

// The wait loop on the thread's wait counter: a check at once, then one after every 100 ms of
// sleep. False when a check fails after more than 30000 ms of sleep, so a check that never
// succeeds gives up after 301 sleeps.
template <class Ready>
bool wait_until(Win32API& win32, Ready&& ready)
{
    int16_t& waited = Common::wait_counter();
    waited = 0;
    while (!ready()) {
        if (waited > kWaitBudgetMs)
            return false;
        win32.Sleep(kPollIntervalMs);
        waited = checked_add(waited, kPollIntervalMs);
    }
    return true;
}

BStr time_out_text(const char16_t* prefix)
{
    constexpr int32_t kTimeOutSeconds = 30;
    return prefix + decimal(kTimeOutSeconds) + u" seconds";
}

// An applet is ready at 4 and also when it gives no ready state at all.
bool applet_ready(const Variant& state)
{
    switch (state.type()) {
    case VarType::Empty:
    case VarType::Null:
        return true;
    case VarType::I2:
        return state.i2() == kAppletReady;
    case VarType::I4:
        return state.i4() == kAppletReady;
    case VarType::R8:
        return state.r8() == kAppletReady;
    default:
        return false;
    }
}

// The position of the first applet of `applets` (taken afresh at each check) that does not
// become ready in time.
template <class Applets>
std::optional<int16_t> stuck_applet(Win32API& win32, Applets&& applets)
{
    return walk(applets()->length(), [&](int16_t position) {
        return !wait_until(win32, [&] { return applet_ready(applets()->item(position)->readyState()); });
    });
}

// A document that cannot be read at this moment: one of another origin, or one that its frame or
// window has just replaced. The next look takes the documents afresh.
bool unreadable(const AutomationError& error)
{
    return error.number() == error_number::kPermissionDenied || error.number() == error_number::kObjectDisconnected;
}

// Whether `shown` holds for the document or for the document of any frame within it.
template <class Shown>
bool shown_in(dom::Document& document, Shown& shown)
{
    try {
        if (shown(document))
            return true;
    } catch (const AutomationError& error) {
        if (!unreadable(error))
            throw;
    }
    Ref<dom::FrameCollection> frames;
    int32_t count = 0;
    try {
        frames = document.frames();
        count = frames->length();
    } catch (const AutomationError& error) {
        if (!unreadable(error))
            throw;
    }
    for (int32_t position = 0; position < count; ++position) {
        Ref<dom::Document> inner;
        try {
            inner = frames->item(position)->document();
        } catch (const AutomationError& error) {
            if (!unreadable(error))
                throw;
            continue;
        }
        if (shown_in(*inner, shown))
            return true;
    }
    return false;
}

bool text_shown(dom::Document& document, std::u16string_view text)
{
    Variant body = document.get_property(u"body");
    if (body.type() != VarType::Object || !body.object())
        return false;
    return to_bstr(body.object()->get_property(u"innerText")).find(text) != BStr::npos;
}

bool element_present(dom::Document& document, const BStr& selector)
{
    Variant argument = selector;
    Variant found = document.call_method(u"querySelector", {&argument, 1});
    return found.type() == VarType::Object && found.object();
}

}  // namespace

int16_t Browser::WaitForBrowser()
{
    // A document that goes while its parts are walked (a script that sends the window elsewhere
    // replaces the frames being waited for) is followed by its successor: the walk starts again
    // from the top document. A page that never stops replacing them fails as before once the
    // restarts have taken a whole wait's time.
    int16_t restarts_ms = 0;
    for (;;) {
        if (!wait_until(m_win32, [&] { return m_application->ReadyState() == kApplicationReady; })) {
            log(time_out_text(u"Browser not ready after "));
            return -1;
        }
        try {
            return wait_for_parts_of_top();
        } catch (const AutomationError& error) {
            if (error.number() != error_number::kObjectDisconnected || restarts_ms > kWaitBudgetMs)
                throw;
        }
        m_win32.Sleep(kPollIntervalMs);
        restarts_ms = checked_add(restarts_ms, kPollIntervalMs);
    }
}

int16_t Browser::wait_for_parts_of_top()
{
    if (stuck_applet(m_win32, [&] { return m_application->Document()->applets(); })) {
        log(time_out_text(u"Browser not ready after "));
        return -1;
    }
    // The frame wait has logged its own time-out; the frames after it are not waited for.
    auto stuck_frame = walk(m_application->Document()->frames()->length(), [&](int16_t position) {
        return wait_for_frame(*m_application->Document()->frames()->item(position)) < 0;
    });
    return stuck_frame ? -1 : 0;
}

int16_t Browser::WaitForFrame(const Ref<Dispatch>& Window)
{
    return wait_for_frame(*dom::expect<dom::FrameWindow>(Window));
}

int16_t Browser::wait_for_frame(dom::FrameWindow& window)
{
    if (!wait_until(m_win32, [&] { return window.document()->readyState() == kDocumentReady; })) {
        log(time_out_text(u"Frame not ready after "));
        return -1;
    }
    int32_t frame_count = window.document()->frames()->length();
    if (frame_count != 0) {
        // An inner frame that fails has logged its time-out; the walk goes on and this frame
        // counts as ready, so only a frame of the top document makes WaitForBrowser fail.
        walk(frame_count, [&](int16_t position) {
            wait_for_frame(*window.document()->frames()->item(position));
            return false;
        });
        return 0;
    }
    if (stuck_applet(m_win32, [&] { return window.document()->applets(); })) {
        log(time_out_text(u"Applet not ready after "));
        return -1;
    }
    return 0;
}

template <class Shown>
bool Browser::wait_until_shown(int16_t seconds, std::u16string_view member, Shown&& shown)
{
    if (seconds < 0)
        throw invalid_seconds(member, seconds, "0 or more");
    const int32_t budget_ms = int32_t(seconds) * 1000;
    int32_t slept_ms = 0;
    while (!shown_in(*m_application->Document(), shown)) {
        if (slept_ms >= budget_ms)
            return false;
        m_win32.Sleep(kPollIntervalMs);
        slept_ms += kPollIntervalMs;
    }
    return true;
}

int16_t Browser::WaitForText(const BStr& Text, int16_t Seconds)
{
    // Compared as the other text members compare: case counts, the spaces around the text do not.
    std::u16string_view text = trim_spaces(Text);
    if (wait_until_shown(Seconds, u"WaitForText", [&](dom::Document& document) { return text_shown(document, text); }))
        return 0;
    log(u"Text " + quoted(Text) + u" not shown after " + decimal(Seconds) + u" seconds");
    return -1;
}

int16_t Browser::WaitForElement(const BStr& Selector, int16_t Seconds)
{
    if (wait_until_shown(Seconds, u"WaitForElement",
                         [&](dom::Document& document) { return element_present(document, Selector); }))
        return 0;
    log(u"Element " + quoted(Selector) + u" not found after " + decimal(Seconds) + u" seconds");
    return -1;
}

}  // namespace varne
