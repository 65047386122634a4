#include "tests/support/fake_document_model.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "frame/automation_error.h"

namespace varne::testing {

namespace {

using dom::ElementProperty;

constexpr int32_t kLoadingState = 3;
constexpr int32_t kCompleteState = 4;

Ref<FakeElement> with_properties(Ref<FakeElement> made,
                                 std::initializer_list<std::pair<ElementProperty, BStr>> properties)
{
    for (const auto& [property, value] : properties) {
        made->set(property, value);
    }
    return made;
}

// Each property under the name a page's script reads it by.
constexpr std::pair<ElementProperty, std::u16string_view> kPropertyNames[] = {
    {ElementProperty::innerText, u"innerText"}, {ElementProperty::alt, u"alt"},
    {ElementProperty::nameProp, u"nameProp"},   {ElementProperty::name, u"name"},
    {ElementProperty::type, u"type"},           {ElementProperty::value, u"value"},
};

std::u16string_view property_name(ElementProperty property)
{
    for (const auto& [known, name] : kPropertyNames) {
        if (known == property)
            return name;
    }
    return {};
}

std::optional<ElementProperty> property_named(std::u16string_view name)
{
    for (const auto& [property, known] : kPropertyNames) {
        if (equals_ignoring_case(known, name))
            return property;
    }
    return std::nullopt;
}

bool is_form_control(const BStr& tag)
{
    return tag == u"INPUT" || tag == u"BUTTON" || tag == u"SELECT" || tag == u"TEXTAREA";
}

AutomationError no_item(int32_t index, size_t length)
{
    return AutomationError(error_number::kSubscriptOutOfRange, "No item at position " + std::to_string(index) +
                                                                   " of a collection of " + std::to_string(length));
}

int32_t index_argument(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "item takes one position");
    return to_i4(args[0]);
}

}  // namespace

bool Loading::check()
{
    ++m_checks;
    if (m_unfinished < 0)
        return false;
    return m_checks > m_unfinished;
}

int64_t PortCalls::count(const std::string& name) const
{
    return std::count(m_names.begin(), m_names.end(), name);
}

// ---- FakeElement

FakeElement::FakeElement(std::shared_ptr<PortCalls> calls, BStr tag) : m_calls(std::move(calls)), m_tag(to_upper(tag))
{
}

FakeElement& FakeElement::set(ElementProperty property, BStr value)
{
    m_properties[property] = std::move(value);
    return *this;
}

FakeElement& FakeElement::append(Ref<FakeElement> child)
{
    m_children.push_back(std::move(child));
    return *this;
}

FakeElement& FakeElement::remove_last_child()
{
    m_children.pop_back();
    return *this;
}

FakeElement& FakeElement::set_ready(Loading loading)
{
    m_ready = loading;
    return *this;
}

FakeElement& FakeElement::set_null_ready_state()
{
    m_null_ready_state = true;
    return *this;
}

FakeElement& FakeElement::on_click(std::function<void()> action)
{
    m_on_click = std::move(action);
    return *this;
}

BStr FakeElement::value_of(ElementProperty property) const
{
    auto found = m_properties.find(property);
    return found == m_properties.end() ? BStr() : found->second;
}

void FakeElement::collect(std::vector<Ref<FakeElement>>& out)
{
    out.emplace_back(this);
    for (const auto& child : m_children)
        child->collect(out);
}

Variant FakeElement::readyState()
{
    m_calls->record("Element.readyState");
    if (m_null_ready_state)
        return Variant::Null{};
    return m_ready.check() ? kCompleteState : kLoadingState;
}

BStr FakeElement::property(ElementProperty property)
{
    m_calls->record("Element." + to_utf8(property_name(property)));
    return value_of(property);
}

Ref<dom::ElementCollection> FakeElement::children()
{
    m_calls->record("Element.children");
    return make_object<FakeElementCollection>(m_calls, m_children);
}

Ref<dom::ElementCollection> FakeElement::elements()
{
    m_calls->record("Element.elements");
    if (m_tag != u"FORM")
        throw_not_supported(u"elements");
    std::vector<Ref<FakeElement>> descendants;
    for (const auto& child : m_children)
        child->collect(descendants);
    std::erase_if(descendants, [](const Ref<FakeElement>& element) { return !is_form_control(element->tag()); });
    return make_object<FakeElementCollection>(m_calls, std::move(descendants));
}

void FakeElement::click()
{
    m_calls->record("Element.click");
    fire_click();
}

void FakeElement::fire_click()
{
    ++m_clicks;
    if (m_on_click)
        m_on_click();
}

Variant FakeElement::get_property(std::u16string_view name)
{
    if (auto property = property_named(name))
        return value_of(*property);
    if (equals_ignoring_case(name, u"tagName"))
        return m_tag;
    if (equals_ignoring_case(name, u"children"))
        return Ref<Dispatch>(make_object<FakeElementCollection>(m_calls, m_children));
    throw_not_supported(name);
}

Variant FakeElement::call_method(std::u16string_view name, std::span<const Variant>)
{
    if (equals_ignoring_case(name, u"click")) {
        fire_click();
        return {};
    }
    throw_not_supported(name);
}

// ---- FakeElementCollection

FakeElementCollection::FakeElementCollection(std::shared_ptr<PortCalls> calls, std::vector<Ref<FakeElement>> items)
    : m_calls(std::move(calls)), m_items(std::move(items))
{
}

Ref<FakeElement> FakeElementCollection::at(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_items.size())
        throw no_item(index, m_items.size());
    return m_items[static_cast<size_t>(index)];
}

int32_t FakeElementCollection::length()
{
    m_calls->record("ElementCollection.length");
    return static_cast<int32_t>(m_items.size());
}

Ref<dom::Element> FakeElementCollection::item(int32_t index)
{
    m_calls->record("ElementCollection.item");
    return at(index);
}

Ref<dom::ElementCollection> FakeElementCollection::tags(const BStr& tag_name)
{
    m_calls->record("ElementCollection.tags");
    std::vector<Ref<FakeElement>> matching;
    for (const auto& element : m_items) {
        if (equals_ignoring_case(element->tag(), tag_name))
            matching.push_back(element);
    }
    return make_object<FakeElementCollection>(m_calls, std::move(matching));
}

std::vector<BStr> FakeElementCollection::read_each(ElementProperty property)
{
    m_calls->record("ElementCollection.read_each");
    std::vector<BStr> values;
    for (const auto& element : m_items)
        values.push_back(element->value_of(property));
    return values;
}

std::vector<std::optional<BStr>> FakeElementCollection::read_each_first_image(ElementProperty property)
{
    m_calls->record("ElementCollection.read_each_first_image");
    std::vector<std::optional<BStr>> values;
    for (const auto& element : m_items) {
        const auto& children = element->child_elements();
        auto image = std::find_if(children.begin(), children.end(),
                                  [](const Ref<FakeElement>& child) { return child->tag() == u"IMG"; });
        if (image == children.end())
            values.emplace_back(std::nullopt);
        else
            values.emplace_back((*image)->value_of(property));
    }
    return values;
}

Variant FakeElementCollection::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return static_cast<int32_t>(m_items.size());
    throw_not_supported(name);
}

Variant FakeElementCollection::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"item"))
        return call_default(args);
    if (equals_ignoring_case(name, u"tags")) {
        if (args.size() != 1)
            throw AutomationError(error_number::kWrongArgumentCount, "tags takes one tag name");
        BStr tag = to_bstr(args[0]);
        std::vector<Ref<FakeElement>> matching;
        for (const auto& element : m_items) {
            if (equals_ignoring_case(element->tag(), tag))
                matching.push_back(element);
        }
        return Ref<Dispatch>(make_object<FakeElementCollection>(m_calls, std::move(matching)));
    }
    throw_not_supported(name);
}

Variant FakeElementCollection::call_default(std::span<const Variant> args)
{
    return Ref<Dispatch>(at(index_argument(args)));
}

// ---- FakeFrameCollection

FakeFrameCollection::FakeFrameCollection(std::shared_ptr<PortCalls> calls, std::shared_ptr<const FrameList> frames)
    : m_calls(std::move(calls)), m_frames(std::move(frames))
{
}

int32_t FakeFrameCollection::length()
{
    m_calls->record("FrameCollection.length");
    return static_cast<int32_t>(m_frames->size());
}

Ref<dom::FrameWindow> FakeFrameCollection::item(int32_t index)
{
    m_calls->record("FrameCollection.item");
    if (index < 0 || static_cast<size_t>(index) >= m_frames->size())
        throw no_item(index, m_frames->size());
    return (*m_frames)[static_cast<size_t>(index)];
}

Variant FakeFrameCollection::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return static_cast<int32_t>(m_frames->size());
    throw_not_supported(name);
}

Variant FakeFrameCollection::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"item"))
        return call_default(args);
    throw_not_supported(name);
}

Variant FakeFrameCollection::call_default(std::span<const Variant> args)
{
    int32_t index = index_argument(args);
    if (index < 0 || static_cast<size_t>(index) >= m_frames->size())
        throw no_item(index, m_frames->size());
    return Ref<Dispatch>((*m_frames)[static_cast<size_t>(index)]);
}

// ---- FakeDocument

FakeDocument::FakeDocument(std::shared_ptr<PortCalls> calls, Loading loading)
    : m_calls(std::move(calls)), m_loading(loading)
{
}

FakeDocument& FakeDocument::append(Ref<FakeElement> element)
{
    m_body.push_back(std::move(element));
    return *this;
}

FakeDocument& FakeDocument::add_frame(Ref<FakeFrameWindow> frame)
{
    m_frames->push_back(std::move(frame));
    return *this;
}

std::vector<Ref<FakeElement>> FakeDocument::with_tag(std::u16string_view tag)
{
    std::vector<Ref<FakeElement>> all;
    for (const auto& element : m_body)
        element->collect(all);
    if (!tag.empty())
        std::erase_if(all, [&](const Ref<FakeElement>& element) { return element->tag() != tag; });
    return all;
}

Ref<FakeElementCollection> FakeDocument::collection(std::vector<Ref<FakeElement>> items)
{
    return make_object<FakeElementCollection>(m_calls, std::move(items));
}

BStr FakeDocument::readyState()
{
    m_calls->record("Document.readyState");
    return m_loading.check() ? u"complete" : u"interactive";
}

Ref<dom::FrameCollection> FakeDocument::frames()
{
    m_calls->record("Document.frames");
    return make_object<FakeFrameCollection>(m_calls, m_frames);
}

Ref<dom::ElementCollection> FakeDocument::applets()
{
    m_calls->record("Document.applets");
    return collection(with_tag(u"APPLET"));
}

Ref<dom::ElementCollection> FakeDocument::all()
{
    m_calls->record("Document.all");
    return collection(with_tag({}));
}

Ref<dom::ElementCollection> FakeDocument::links()
{
    m_calls->record("Document.links");
    return collection(with_tag(u"A"));
}

Ref<dom::ElementCollection> FakeDocument::forms()
{
    m_calls->record("Document.forms");
    return collection(with_tag(u"FORM"));
}

FakeDocument& FakeDocument::set_body_text(std::function<BStr()> text)
{
    m_body_text = std::move(text);
    return *this;
}

FakeDocument& FakeDocument::set_selector_matches(std::function<bool(const BStr&)> matches)
{
    m_selector_matches = std::move(matches);
    return *this;
}

void FakeDocument::check_not_foreign() const
{
    if (m_foreign)
        throw AutomationError(error_number::kPermissionDenied,
                              "Permission denied: the frame shows a document of another origin");
}

Variant FakeDocument::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (!equals_ignoring_case(name, u"querySelector") || args.size() != 1)
        throw_not_supported(name);
    check_not_foreign();
    if (m_selector_matches && m_selector_matches(to_bstr(args[0])))
        return Ref<Dispatch>(make_object<FakeElement>(m_calls, u"DIV"));
    return Variant::Null{};
}

Variant FakeDocument::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"body")) {
        check_not_foreign();
        ++m_body_reads;
        auto body = make_object<FakeElement>(m_calls, u"BODY");
        body->set(dom::ElementProperty::innerText, m_body_text ? m_body_text() : BStr());
        return Ref<Dispatch>(body);
    }
    if (equals_ignoring_case(name, u"frames"))
        return Ref<Dispatch>(make_object<FakeFrameCollection>(m_calls, m_frames));
    if (equals_ignoring_case(name, u"applets"))
        return Ref<Dispatch>(collection(with_tag(u"APPLET")));
    if (equals_ignoring_case(name, u"all"))
        return Ref<Dispatch>(collection(with_tag({})));
    if (equals_ignoring_case(name, u"links"))
        return Ref<Dispatch>(collection(with_tag(u"A")));
    if (equals_ignoring_case(name, u"forms"))
        return Ref<Dispatch>(collection(with_tag(u"FORM")));
    throw_not_supported(name);
}

// ---- FakeFrameWindow

FakeFrameWindow::FakeFrameWindow(std::shared_ptr<PortCalls> calls, std::shared_ptr<FakeSite> site,
                                 Ref<FakeDocument> document)
    : m_calls(std::move(calls)), m_site(std::move(site)), m_document(std::move(document))
{
}

Ref<dom::Document> FakeFrameWindow::document()
{
    m_calls->record("FrameWindow.document");
    if (m_gone)
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the frame is gone");
    return m_document;
}

void FakeFrameWindow::set_location(const BStr& url)
{
    m_calls->record("FrameWindow.location");
    m_locations.push_back(url);
    auto page = m_site->pages.find(url);
    if (page != m_site->pages.end())
        m_document = page->second.document;
    m_site->loaded(url);
}

Variant FakeFrameWindow::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"document"))
        return Ref<Dispatch>(m_document);
    throw_not_supported(name);
}

void FakeFrameWindow::put_property(std::u16string_view name, const Variant& value)
{
    if (!equals_ignoring_case(name, u"location"))
        throw_not_supported(name);
    set_location(to_bstr(value));
}

// ---- FakeApplication

FakeApplication::FakeApplication(std::shared_ptr<PortCalls> calls, std::shared_ptr<FakeSite> site,
                                 int32_t window_handle)
    : m_calls(std::move(calls)), m_site(std::move(site)), m_window_handle(window_handle)
{
}

void FakeApplication::load(const BStr& url)
{
    auto page = m_site->pages.find(url);
    if (page == m_site->pages.end())
        throw AutomationError(error_number::kUnspecified, "The fake site has no page at " + to_utf8(url));
    m_site->loaded(url);
    m_navigation_shown = page->second.shown;
    if (!page->second.shown)
        return;
    m_document = page->second.document;
    m_loading = page->second.loading;
    m_location = page->second.location.empty() ? url : page->second.location;
}

void FakeSite::loaded(const BStr& url)
{
    auto page = pages.find(url);
    if (page != pages.end() && !page->second.failure.empty())
        failures.push_back({url, page->second.failure});
}

std::vector<dom::LoadFailure> FakeApplication::take_load_failures()
{
    return std::exchange(m_site->failures, {});
}

int32_t FakeApplication::HWND()
{
    m_calls->record("Application.HWND");
    return m_window_handle;
}

void FakeApplication::set_Visible(bool visible)
{
    m_calls->record("Application.Visible");
    m_visible = visible;
}

void FakeApplication::Navigate(const BStr& url)
{
    m_calls->record("Application.Navigate");
    m_navigations.push_back(url);
    load(url);
}

int32_t FakeApplication::ReadyState()
{
    m_calls->record("Application.ReadyState");
    return m_loading.check() ? kCompleteState : kLoadingState;
}

Ref<dom::Document> FakeApplication::Document()
{
    m_calls->record("Application.Document");
    if (!m_document)
        throw AutomationError(error_number::kUnspecified, "The window holds no document yet");
    return m_document;
}

BStr FakeApplication::LocationURL()
{
    m_calls->record("Application.LocationURL");
    return m_location;
}

Variant FakeApplication::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"HWND"))
        return m_window_handle;
    if (equals_ignoring_case(name, u"Visible"))
        return m_visible;
    if (equals_ignoring_case(name, u"LocationURL"))
        return m_location;
    if (equals_ignoring_case(name, u"Document")) {
        if (!m_document)
            throw AutomationError(error_number::kUnspecified, "The window holds no document yet");
        return Ref<Dispatch>(m_document);
    }
    throw_not_supported(name);
}

void FakeApplication::put_property(std::u16string_view name, const Variant& value)
{
    if (!equals_ignoring_case(name, u"Visible"))
        throw_not_supported(name);
    m_visible = to_bool(value);
}

Variant FakeApplication::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (!equals_ignoring_case(name, u"Navigate") || args.empty())
        throw_not_supported(name);
    m_navigations.push_back(to_bstr(args[0]));
    load(to_bstr(args[0]));
    return {};
}

// ---- FakeBrowserLauncher

Ref<dom::Application> FakeBrowserLauncher::start_application()
{
    ++m_starts;
    return m_application;
}

// ---- FakeDocumentModel

FakeDocumentModel::FakeDocumentModel(int32_t window_handle)
    : m_calls(std::make_shared<PortCalls>()),
      m_site(std::make_shared<FakeSite>()),
      m_application(make_object<FakeApplication>(m_calls, m_site, window_handle)),
      m_launcher(m_application)
{
}

FakeDocumentModel::~FakeDocumentModel()
{
    m_site->pages.clear();
}

Ref<FakeDocument> FakeDocumentModel::document(Loading loading)
{
    return make_object<FakeDocument>(m_calls, loading);
}

Ref<FakeFrameWindow> FakeDocumentModel::frame(Ref<FakeDocument> document)
{
    return make_object<FakeFrameWindow>(m_calls, m_site, std::move(document));
}

void FakeDocumentModel::add_page(const BStr& url, Ref<FakeDocument> document, Loading loading, const BStr& location)
{
    m_site->pages[url] = FakeSite::Page{std::move(document), loading, location, {}};
}

void FakeDocumentModel::fail_page(const BStr& url, BStr reason)
{
    m_site->pages.at(url).failure = std::move(reason);
}

void FakeDocumentModel::report_failure(BStr url, BStr reason)
{
    m_site->failures.push_back({std::move(url), std::move(reason)});
}

Ref<FakeElement> FakeDocumentModel::element(BStr tag, BStr inner_text)
{
    return with_properties(make_object<FakeElement>(m_calls, std::move(tag)),
                           {{ElementProperty::innerText, std::move(inner_text)}});
}

Ref<FakeElement> FakeDocumentModel::link(BStr inner_text)
{
    return element(u"A", std::move(inner_text));
}

Ref<FakeElement> FakeDocumentModel::image(BStr alt, BStr name_prop)
{
    return with_properties(element(u"IMG"),
                           {{ElementProperty::alt, std::move(alt)}, {ElementProperty::nameProp, std::move(name_prop)}});
}

Ref<FakeElement> FakeDocumentModel::form(BStr name)
{
    return with_properties(element(u"FORM"), {{ElementProperty::name, std::move(name)}});
}

Ref<FakeElement> FakeDocumentModel::input(BStr type, BStr value)
{
    return with_properties(element(u"INPUT"),
                           {{ElementProperty::type, std::move(type)}, {ElementProperty::value, std::move(value)}});
}

Ref<FakeElement> FakeDocumentModel::applet(Loading loading)
{
    auto made = element(u"APPLET");
    made->set_ready(loading);
    return made;
}

}  // namespace varne::testing
