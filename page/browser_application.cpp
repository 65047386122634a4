#include "page/browser_application.h"

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "page/load_failure_list.h"
#include "page/page_scripts.h"
#include "page/page_text.h"
#include "page/remote_objects.h"
#include "platform/file_system.h"

namespace varne::page {

namespace {

// The whole file or, on failure, the old one left as it was.
void save_bytes(FileSystem& files, const BStr& path, std::string_view bytes)
{
    auto writer = files.replace_file(path);
    writer->write_bytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    writer->close();
}

}  // namespace

BrowserApplication::BrowserApplication(std::shared_ptr<BrowserPage> page, std::u16string name, FileSystem& files)
    : m_page(std::move(page)), m_name(std::move(name)), m_files(files)
{
}

BrowserApplication::~BrowserApplication()
{
    m_page->leave_open();
}

int32_t BrowserApplication::HWND()
{
    return m_page->window_handle();
}

void BrowserApplication::set_Visible(bool visible)
{
    m_page->check_alive();
    m_visible = visible;
    if (visible && !m_page->headless())
        m_page->delegate().bring_to_front();
}

void BrowserApplication::Navigate(const BStr& url)
{
    m_address = protocol_text(url);
    m_navigations_again = kMostNavigationsAgain;
    navigate_window();
}

void BrowserApplication::navigate_window()
{
    PageState& state = m_page->state();
    m_addresses_before_navigation = state.addresses_shown(state.main_frame_id());
    state.script_navigation_asked();
    m_page->navigate(state.main_frame_id(), m_address);
    m_navigated = true;
}

int32_t BrowserApplication::ReadyState()
{
    m_page->check_alive();
    PageState& state = m_page->state();
    // Read first: a page's navigation that overtook the script's began before its document was ready.
    const int32_t ready = state.ready_state();
    // The script's navigation always wins: one that the page's own cut short is asked for again,
    // with the page that keeps sending the window away held still first.
    if (!state.script_navigation_overtaken() || m_navigations_again == 0 || state.dialog())
        return ready;
    --m_navigations_again;
    m_page->hold_still();
    navigate_window();
    return state.ready_state();
}

Ref<dom::Document> BrowserApplication::Document()
{
    m_page->check_alive();
    if (!m_navigated)
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the window holds no document yet; load one with GotoURL");
    return make_object<RemoteDocument>(m_page, m_page->state().main_frame_id());
}

BStr BrowserApplication::LocationURL()
{
    m_page->check_alive();
    return page_text(m_page->state().url_of(m_page->state().main_frame_id()));
}

std::vector<dom::LoadFailure> BrowserApplication::take_load_failures()
{
    std::vector<dom::LoadFailure> failures;
    for (const auto& failure : m_page->state().take_load_failures())
        failures.push_back({page_text(failure.url), page_text(failure.reason)});
    return failures;
}

bool BrowserApplication::navigation_shown()
{
    // Judged: a navigation that the page begins from now on is its own.
    m_navigations_again = 0;
    const PageState& state = m_page->state();
    return state.addresses_shown(state.main_frame_id()) != m_addresses_before_navigation &&
           !state.script_navigation_overtaken();
}

int32_t BrowserApplication::StatusCode()
{
    m_page->check_alive();
    return m_page->state().status_of(m_page->state().main_frame_id());
}

Ref<Dispatch> BrowserApplication::LoadFailures()
{
    m_page->check_alive();
    std::vector<dom::LoadFailure> failures;
    for (const auto& failure : m_page->state().failures_since_navigation())
        failures.push_back({page_text(failure.url), page_text(failure.reason)});
    return make_object<LoadFailureList>(std::move(failures));
}

void BrowserApplication::SaveScreenshot(const BStr& path)
{
    m_page->check_alive();
    save_bytes(m_files, path, m_page->delegate().screenshot());
}

void BrowserApplication::SavePageSource(const BStr& path)
{
    const auto& frame = m_page->state().main_frame_id();
    auto source = m_page->delegate().evaluate(m_page->realm_for(frame), std::string(scripts::kPageSource), true);
    // In the files' convention: a lone surrogate of the page is written as to_utf8 writes it.
    save_bytes(m_files, path, to_utf8(page_text(source.text)));
}

Variant BrowserApplication::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"HWND"))
        return HWND();
    if (equals_ignoring_case(name, u"Visible"))
        return m_visible;
    if (equals_ignoring_case(name, u"ReadyState"))
        return ReadyState();
    if (equals_ignoring_case(name, u"Busy"))
        return ReadyState() != 4;
    if (equals_ignoring_case(name, u"Document"))
        return Ref<Dispatch>(Document());
    if (equals_ignoring_case(name, u"LocationURL"))
        return LocationURL();
    if (equals_ignoring_case(name, u"LocationName"))
        return Document()->get_property(u"title");
    if (equals_ignoring_case(name, u"Name"))
        return BStr(m_name);
    if (equals_ignoring_case(name, u"StatusCode"))
        return StatusCode();
    if (equals_ignoring_case(name, u"LoadFailures"))
        return LoadFailures();
    if (equals_ignoring_case(name, u"SaveScreenshot") || equals_ignoring_case(name, u"SavePageSource"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    if (equals_ignoring_case(name, u"Navigate") || equals_ignoring_case(name, u"Quit"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    throw_not_supported(name);
}

void BrowserApplication::put_property(std::u16string_view name, const Variant& value)
{
    if (!equals_ignoring_case(name, u"Visible"))
        throw_not_supported(name);
    set_Visible(to_bool(value));
}

Variant BrowserApplication::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"Navigate")) {
        if (args.empty())
            throw AutomationError(error_number::kArgumentNotOptional, "Argument not optional: Navigate takes a URL");
        Navigate(to_bstr(args[0]));
        return {};
    }
    if (equals_ignoring_case(name, u"Quit") && args.empty()) {
        m_page->close();
        return {};
    }
    if (equals_ignoring_case(name, u"SaveScreenshot") && args.size() == 1) {
        SaveScreenshot(to_bstr(args[0]));
        return {};
    }
    if (equals_ignoring_case(name, u"SavePageSource") && args.size() == 1) {
        SavePageSource(to_bstr(args[0]));
        return {};
    }
    if (args.empty())
        return get_property(name);
    throw_not_supported(name);
}

}  // namespace varne::page
