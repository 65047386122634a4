#include "browser/browser.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "browser/common.h"
#include "browser/log_text.h"
#include "frame/automation_error.h"
#include "platform/win32_api.h"

namespace varne {

namespace {

using dom::ElementProperty;

constexpr int16_t kPollIntervalMs = 100;
constexpr int16_t kWaitBudgetMs = 30000;
constexpr int16_t kTimeOutSeconds = 30;
constexpr int32_t kApplicationReady = 4;
constexpr int32_t kAppletReady = 4;
constexpr char16_t kDocumentReady[] = u"complete";

constexpr char16_t kBrowserNotReady[] = u"Browser not ready after ";
constexpr char16_t kFrameNotReady[] = u"Frame not ready after ";
constexpr char16_t kAppletNotReady[] = u"Applet not ready after ";
constexpr char16_t kTextNotShown[] = u" not shown after ";
constexpr char16_t kElementNotFound[] = u" not found after ";
constexpr int16_t kLongestPopupTimeout = 30;

constexpr char16_t kBrowserLoadTiming[] = u"BrowserLoad";
constexpr char16_t kFrameLoadTiming[] = u"FrameLoad";
constexpr char16_t kClickLinkTiming[] = u"ClickLink";
constexpr char16_t kClickFormButtonTiming[] = u"ClickFormButton";
constexpr char16_t kPopupTiming[] = u"BrowserClickPopupButton";

constexpr char16_t kImageTag[] = u"IMG";
constexpr char16_t kInputTag[] = u"INPUT";

constexpr int16_t kInt16Max = std::numeric_limits<int16_t>::max();

int16_t checked_add(int16_t a, int16_t b)
{
    int32_t sum = int32_t(a) + int32_t(b);
    if (sum > kInt16Max || sum < std::numeric_limits<int16_t>::min())
        throw AutomationError::overflow();
    return static_cast<int16_t>(sum);
}

BStr decimal(int32_t value)
{
    return from_utf8(std::to_string(value));
}

BStr quoted(const BStr& text)
{
    return u"\"" + text + u"\"";
}

bool text_matches(std::u16string_view property, const BStr& given)
{
    return trim_spaces(property) == given;
}

// Visits positions 0 to length - 1 as a 16-bit counting loop does and gives the position at
// which `leave` answered true, if any. A last position beyond 32,767 overflows before the
// first visit; a walk that passes 32,767 without leaving overflows when it steps on.
template <class Leave>
std::optional<int16_t> walk(int64_t length, Leave&& leave)
{
    int64_t last = length - 1;
    if (last > kInt16Max)
        throw AutomationError::overflow();
    for (int64_t position = 0; position <= last; ++position) {
        if (leave(static_cast<int16_t>(position)))
            return static_cast<int16_t>(position);
    }
    if (last == kInt16Max)
        throw AutomationError::overflow();
    return std::nullopt;
}

// The position of the match numbered `occurrence` (from 0) among the positions that `matches`
// accepts, counted with a 16-bit match counter.
template <class Matches>
std::optional<int16_t> find_occurrence(int64_t length, int16_t occurrence, Matches&& matches)
{
    int16_t counter = 0;
    return walk(length, [&](int16_t position) {
        if (!matches(position))
            return false;
        if (counter == occurrence)
            return true;
        counter = checked_add(counter, 1);
        return false;
    });
}

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

// For every link of the document, in order, whether `text` identifies it: by its own text for
// brwInnerText, else by the alt (brwImgAlt) or file name (any other) of its first direct IMG child.
std::vector<bool> identify_links(dom::Document& document, const BStr& text, BrowserIdentType method)
{
    std::vector<bool> identified;
    auto links = document.links();
    if (method == brwInnerText) {
        for (const auto& link_text : links->read_each(ElementProperty::innerText))
            identified.push_back(text_matches(link_text, text));
    } else {
        auto property = method == brwImgAlt ? ElementProperty::alt : ElementProperty::nameProp;
        for (const auto& image_text : links->read_each_first_image(property))
            identified.push_back(image_text && text_matches(*image_text, text));
    }
    return identified;
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

AutomationError invalid_seconds(std::u16string_view member, int16_t seconds, std::string_view allowed)
{
    return AutomationError(error_number::kInvalidProcedureCall,
                           "Invalid procedure call or argument: Seconds of " + to_utf8(member) + " must be " +
                               std::string(allowed) + " (given " + std::to_string(seconds) + ")");
}

bool valid_ident_method(BrowserIdentType method)
{
    return method == brwImgAlt || method == brwImgSrc || method == brwInnerText;
}

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

void Browser::forget_load_failures()
{
    m_application->take_load_failures();
}

void Browser::log_load_failures()
{
    for (const auto& failure : m_application->take_load_failures())
        log(u"Could not load " + quoted(failure.url) + u": " + failure.reason);
}

void Browser::GotoURL(const BStr& URL)
{
    m_timing->StartTiming(kBrowserLoadTiming);
    forget_load_failures();
    m_application->Navigate(URL);
    WaitForBrowser();
    log_load_failures();
    log(u"Browser set to " + quoted(URL) + u". [" + end_timing(kBrowserLoadTiming) + u"]");
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
    log_load_failures();
    log(u"Frame " + decimal(FrameNumber) + u" set to " + quoted(URL) + u". [" + end_timing(kFrameLoadTiming) + u"]");
    return 0;
}

int16_t Browser::WaitForBrowser()
{
    if (!wait_until(m_win32, [&] { return m_application->ReadyState() == kApplicationReady; })) {
        log(time_out_text(kBrowserNotReady));
        return -1;
    }
    auto stuck_applet = walk(m_application->Document()->applets()->length(), [&](int16_t position) {
        return !wait_until(
            m_win32, [&] { return applet_ready(m_application->Document()->applets()->item(position)->readyState()); });
    });
    if (stuck_applet) {
        log(time_out_text(kBrowserNotReady));
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
        log(time_out_text(kFrameNotReady));
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
    auto stuck_applet = walk(window.document()->applets()->length(), [&](int16_t position) {
        return !wait_until(m_win32,
                           [&] { return applet_ready(window.document()->applets()->item(position)->readyState()); });
    });
    if (stuck_applet) {
        log(time_out_text(kAppletNotReady));
        return -1;
    }
    return 0;
}

int16_t Browser::MatchInnerText(const Ref<Dispatch>& Document, const BStr& SearchString, const BStr& Tag,
                                BrowserMatchType MatchType, int16_t Occurrence)
{
    auto document = dom::expect<dom::Document>(Document);
    if (document->all()->tags(Tag)->length() <= Occurrence)
        return -2;
    if (MatchType != brwExactMatch && MatchType != brwLeftMatch && MatchType != brwRightMatch)
        return -1;
    BStr text = document->all()->tags(Tag)->item(Occurrence)->property(ElementProperty::innerText);
    // The cut is made on the untrimmed texts, in UTF-16 code units; both sides are trimmed after it.
    std::u16string_view element_text = text;
    size_t cut = std::min(SearchString.size(), text.size());
    if (MatchType == brwLeftMatch)
        element_text = element_text.substr(0, cut);
    else if (MatchType == brwRightMatch)
        element_text = element_text.substr(text.size() - cut);
    return trim_spaces(element_text) == trim_spaces(SearchString) ? 0 : 1;
}

int16_t Browser::FormExists(const Ref<Dispatch>& Document, const BStr& FormName)
{
    auto names = dom::expect<dom::Document>(Document)->forms()->read_each(ElementProperty::name);
    auto found = walk(static_cast<int64_t>(names.size()),
                      [&](int16_t position) { return text_matches(names[position], FormName); });
    return found ? *found : int16_t(-1);
}

int16_t Browser::ImageExists(const Ref<Dispatch>& Document, const BStr& ImageText, BrowserIdentType IdentMethod)
{
    auto images = dom::expect<dom::Document>(Document)->all()->tags(kImageTag);
    if (IdentMethod != brwImgAlt && IdentMethod != brwImgSrc) {
        // The choice is judged at the first position of the walk, so a document without images gives -1.
        return walk(images->length(), [](int16_t) { return true; }) ? int16_t(-2) : int16_t(-1);
    }
    auto values = images->read_each(IdentMethod == brwImgAlt ? ElementProperty::alt : ElementProperty::nameProp);
    int16_t count = 0;
    walk(static_cast<int64_t>(values.size()), [&](int16_t position) {
        if (text_matches(values[position], ImageText))
            count = checked_add(count, 1);
        return false;
    });
    return count > 0 ? count : int16_t(-1);
}

int16_t Browser::LinkExists(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod)
{
    auto document = dom::expect<dom::Document>(Document);
    if (!valid_ident_method(IdentMethod)) {
        // The choice is judged at the first position of the walk, so a document without links gives 0.
        return walk(document->links()->length(), [](int16_t) { return true; }) ? int16_t(-1) : int16_t(0);
    }
    auto identified = identify_links(*document, LinkText, IdentMethod);
    int16_t count = 0;
    walk(static_cast<int64_t>(identified.size()), [&](int16_t position) {
        if (identified[position])
            count = checked_add(count, 1);
        return false;
    });
    return count;
}

int16_t Browser::ClickLink(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod,
                           int16_t Occurrence)
{
    if (IdentMethod == brwImgAlt || IdentMethod == brwImgSrc)
        return ClickGraphicLink(*dom::expect<dom::Document>(Document), LinkText, IdentMethod, Occurrence);
    if (IdentMethod == brwInnerText)
        return ClickTextLink(*dom::expect<dom::Document>(Document), LinkText, Occurrence);
    return -2;
}

int16_t Browser::ClickTextLink(dom::Document& document, const BStr& LinkText, int16_t Occurrence)
{
    auto identified = identify_links(document, LinkText, brwInnerText);
    auto chosen = find_occurrence(static_cast<int64_t>(identified.size()), Occurrence,
                                  [&](int16_t position) { return identified[position]; });
    if (!chosen) {
        log(u"Text link not found " + quoted(LinkText));
        return -1;
    }
    // The stopwatch starts after the click: a text link's time is that of the wait alone.
    forget_load_failures();
    document.links()->item(*chosen)->click();
    m_timing->StartTiming(kClickLinkTiming);
    WaitForBrowser();
    log_load_failures();
    log(u"Clicked text link " + quoted(LinkText) + u" [" + end_timing(kClickLinkTiming) + u"]");
    return 0;
}

int16_t Browser::ClickGraphicLink(dom::Document& document, const BStr& LinkText, BrowserIdentType IdentMethod,
                                  int16_t Occurrence)
{
    auto identified = identify_links(document, LinkText, IdentMethod);
    auto chosen = find_occurrence(static_cast<int64_t>(identified.size()), Occurrence,
                                  [&](int16_t position) { return identified[position]; });
    if (!chosen)
        return -1;
    m_timing->StartTiming(kClickLinkTiming);
    forget_load_failures();
    document.links()->item(*chosen)->click();
    WaitForBrowser();
    log_load_failures();
    // The match counter at the chosen link equals the occurrence asked for.
    log(u"Clicked graphic link " + quoted(LinkText) + u" (" + decimal(Occurrence) + u") [" +
        end_timing(kClickLinkTiming) + u"]");
    return 0;
}

int16_t Browser::ClickFormButton(const Ref<Dispatch>& FormElement, const BStr& Button, int16_t Occurrence)
{
    auto form = dom::expect<dom::Element>(FormElement);
    // Every read takes the form's inputs afresh, so each sees the form as it is then. The walk
    // covers the inputs that the first read found; a value that the second read no longer found
    // is asked of that position itself, which answers or fails as a read of a missing input fails.
    auto inputs = [&] { return form->elements()->tags(kInputTag); };
    auto types = inputs()->read_each(ElementProperty::type);
    auto values = inputs()->read_each(ElementProperty::value);
    auto value_at = [&](int16_t position) {
        if (static_cast<size_t>(position) < values.size())
            return values[static_cast<size_t>(position)];
        return inputs()->item(position)->property(ElementProperty::value);
    };
    auto chosen = find_occurrence(static_cast<int64_t>(types.size()), Occurrence, [&](int16_t position) {
        BStr type = to_upper(types[static_cast<size_t>(position)]);
        return (type == u"SUBMIT" || type == u"BUTTON") && value_at(position) == Button;
    });
    if (!chosen)
        return -1;
    m_timing->StartTiming(kClickFormButtonTiming);
    forget_load_failures();
    inputs()->item(*chosen)->click();
    WaitForBrowser();
    log_load_failures();
    log(u"Clicked form button " + quoted(Button) + u" [" + end_timing(kClickFormButtonTiming) + u"]");
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
        m_win32.Sleep(kPollIntervalMs);
        waited = checked_add(waited, kPollIntervalMs);
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

int32_t Browser::GetLastActionMilliseconds()
{
    return m_last_action_ms;
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
    log(u"Text " + quoted(Text) + kTextNotShown + decimal(Seconds) + u" seconds");
    return -1;
}

int16_t Browser::WaitForElement(const BStr& Selector, int16_t Seconds)
{
    if (wait_until_shown(Seconds, u"WaitForElement",
                         [&](dom::Document& document) { return element_present(document, Selector); }))
        return 0;
    log(u"Element " + quoted(Selector) + kElementNotFound + decimal(Seconds) + u" seconds");
    return -1;
}

void Browser::SetPopupTimeout(int16_t Seconds)
{
    if (Seconds < 1 || Seconds > kLongestPopupTimeout)
        throw invalid_seconds(u"SetPopupTimeout", Seconds, "1 to 30");
    m_popup_budget_ms = static_cast<int16_t>(Seconds * 1000);
}

}  // namespace varne
