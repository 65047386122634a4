#include "platform/chromium/chromium_application.h"

#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "platform/chromium/page_text.h"
#include "platform/chromium/remote_objects.h"
#include "platform/file_system.h"
#include "platform/services.h"

namespace varne::chromium {

namespace {

// Window handles of the library's own count in steps, so that a browser's dialog and its buttons
// have handles of their own; a real window's handle is followed the same way.
constexpr int32_t kFirstWindow = 0x00010000;
constexpr int32_t kWindowStep = 16;
constexpr int32_t kDialogOffset = 1;
constexpr int32_t kOkButtonOffset = 2;
constexpr int32_t kCancelButtonOffset = 3;

// Every browser that this process started, by window handle. A headed browser's window stays
// open, with its last page, after its application is released and after this process ends, as a
// window that a person can see and close: its page is kept for good, and its process keeps
// itself running once this one is gone. Every headless one still running at exit is closed.
class BrowserRegistry {
public:
    ~BrowserRegistry()
    {
        for (auto& [window, page] : m_pages) {
            auto running = page.lock();
            if (running && running->headless())
                running->close();
        }
    }

    int32_t next_window()
    {
        std::lock_guard lock(m_mutex);
        m_next += kWindowStep;
        return m_next;
    }

    void add(const std::shared_ptr<ChromiumPage>& page)
    {
        std::lock_guard lock(m_mutex);
        m_pages[page->window_handle()] = page;
        if (!page->headless())
            m_kept->push_back(page);
    }

    // The browser whose window, dialog or button has this handle, and the offset within it.
    // A window's own handle is looked for first: a real window's handle may lie within the
    // offsets of another's.
    std::pair<std::shared_ptr<ChromiumPage>, int32_t> find(int32_t handle)
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

private:
    std::mutex m_mutex;
    int32_t m_next = kFirstWindow;
    std::map<int32_t, std::weak_ptr<ChromiumPage>> m_pages;
    // Never freed: freeing it at exit would close the windows that are meant to stay.
    std::vector<std::shared_ptr<ChromiumPage>>* m_kept = new std::vector<std::shared_ptr<ChromiumPage>>;
};

BrowserRegistry& registry()
{
    static BrowserRegistry browsers;
    return browsers;
}

// Captions are compared as the window functions do: case ignored, '&' accelerator marks dropped.
std::string caption_key(const std::string& caption)
{
    std::string key;
    for (char c : caption) {
        if (c != '&')
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

// The whole file or, on failure, the old one left as it was.
void save_bytes(const BStr& path, std::string_view bytes)
{
    auto writer = services().files->replace_file(path);
    writer->write_bytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    writer->close();
}

constexpr char kPageSource[] =
    "(document.doctype ? new XMLSerializer().serializeToString(document.doctype) + '\\n' : '')"
    " + document.documentElement.outerHTML";

}  // namespace

ChromiumApplication::ChromiumApplication(std::shared_ptr<ChromiumPage> page) : m_page(std::move(page)) {}

ChromiumApplication::~ChromiumApplication()
{
    if (m_page->headless())
        m_page->close();
}

int32_t ChromiumApplication::HWND()
{
    return m_page->window_handle();
}

void ChromiumApplication::set_Visible(bool visible)
{
    m_page->check_alive();
    m_visible = visible;
    if (visible && !m_page->headless())
        m_page->client().bring_to_front();
}

void ChromiumApplication::Navigate(const BStr& url)
{
    m_page->navigate(m_page->state().main_frame_id(), protocol_text(url));
    m_navigated = true;
}

int32_t ChromiumApplication::ReadyState()
{
    m_page->check_alive();
    return m_page->state().ready_state();
}

Ref<dom::Document> ChromiumApplication::Document()
{
    m_page->check_alive();
    if (!m_navigated)
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the window holds no document yet; load one with GotoURL");
    return make_object<RemoteDocument>(m_page, m_page->state().main_frame_id());
}

BStr ChromiumApplication::LocationURL()
{
    m_page->check_alive();
    return page_text(m_page->state().url_of(m_page->state().main_frame_id()));
}

std::vector<dom::LoadFailure> ChromiumApplication::take_load_failures()
{
    std::vector<dom::LoadFailure> failures;
    for (const auto& failure : m_page->state().take_load_failures())
        failures.push_back({page_text(failure.url), page_text(failure.reason)});
    return failures;
}

void ChromiumApplication::SaveScreenshot(const BStr& path)
{
    m_page->check_alive();
    save_bytes(path, m_page->client().capture_screenshot());
}

void ChromiumApplication::SavePageSource(const BStr& path)
{
    const auto& frame = m_page->state().main_frame_id();
    auto source = m_page->client().evaluate(m_page->context_for(frame), kPageSource, true);
    // In the files' convention: a lone surrogate of the page is written as to_utf8 writes it.
    save_bytes(path, to_utf8(page_text(source.text)));
}

Variant ChromiumApplication::get_property(std::u16string_view name)
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
        return BStr(u"Chromium");
    if (equals_ignoring_case(name, u"SaveScreenshot") || equals_ignoring_case(name, u"SavePageSource"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    if (equals_ignoring_case(name, u"Navigate") || equals_ignoring_case(name, u"Quit"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    throw_not_supported(name);
}

void ChromiumApplication::put_property(std::u16string_view name, const Variant& value)
{
    if (!equals_ignoring_case(name, u"Visible"))
        throw_not_supported(name);
    set_Visible(to_bool(value));
}

Variant ChromiumApplication::call_method(std::u16string_view name, std::span<const Variant> args)
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

Ref<dom::Application> ChromiumLauncher::start_application()
{
    const char* forced = std::getenv("VARNE_HEADLESS");
    const bool headless = (forced && std::string_view(forced) == "1") || !can_show_browser_window();
    auto page = std::make_shared<ChromiumPage>(registry().next_window(), headless);
    registry().add(page);
    return make_object<ChromiumApplication>(page);
}

int32_t ChromiumWindowFunctions::GetLastActivePopup(int32_t window)
{
    auto [page, offset] = registry().find(window);
    if (!page || offset != 0)
        return 0;
    // A browser that has died owns no popup and never will: say so at once, as every member does.
    page->check_alive();
    if (page->state().dialog())
        return window + kDialogOffset;
    return window;
}

int32_t ChromiumWindowFunctions::SetForegroundWindow(int32_t window)
{
    return registry().find(window).first ? 1 : 0;
}

int32_t ChromiumWindowFunctions::SetActiveWindow(int32_t window)
{
    return registry().find(window).first ? window : 0;
}

int32_t ChromiumWindowFunctions::FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                                               const std::string& window_text)
{
    auto [page, offset] = registry().find(parent);
    if (!page || offset != kDialogOffset || child_after != 0 || caption_key(class_name) != "button")
        return 0;
    auto dialog = page->state().dialog();
    if (!dialog)
        return 0;
    int32_t window = parent - kDialogOffset;
    const std::string caption = caption_key(window_text);
    if (caption == "ok")
        return window + kOkButtonOffset;
    if (caption == "cancel" && dialog->type != "alert")
        return window + kCancelButtonOffset;
    return 0;
}

intptr_t ChromiumWindowFunctions::SendMessageA(int32_t window, uint32_t message, uintptr_t, intptr_t)
{
    auto [page, offset] = registry().find(window);
    if (!page || message != Win32API::kBmClick || (offset != kOkButtonOffset && offset != kCancelButtonOffset))
        return 0;
    // OK on a prompt takes what its field holds; nobody types into it here, so that is its default.
    if (auto dialog = page->state().dialog())
        page->client().handle_dialog(offset == kOkButtonOffset, dialog->default_prompt);
    return 0;
}

}  // namespace varne::chromium
