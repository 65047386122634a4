#include "platform/chromium/remote_objects.h"

#include <cmath>
#include <limits>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "platform/chromium/page_text.h"

namespace varne::chromium {

namespace {

// Finds a member by its exact name, else by the same name in another case, as the old
// object model's scripts wrote names freely.
constexpr const char* kResolve = "const resolve = (o, n) => { if (n in o) return n; const l = n.toLowerCase();"
                                 " for (const k in o) { if (k.toLowerCase() === l) return k; } return null; };"
                                 "const member = (o, n) => { const r = resolve(o, n);"
                                 " if (r === null) throw new ReferenceError('varne:no-member:' + n); return r; };";

// The properties that the library reads itself; nameProp is the file name of an image's or link's address.
constexpr const char* kProperty =
    "const prop = (e, p) => { if (p === 'nameProp') { const s = e.src || e.href || ''; if (!s) return '';"
    " try { return new URL(s, e.ownerDocument.baseURI).pathname.split('/').pop(); } catch (x) { return ''; } }"
    " const v = e[p]; return v === undefined || v === null ? '' : String(v); };";

constexpr const char* kNoMember = "varne:no-member:";

const char* property_name(dom::ElementProperty property)
{
    switch (property) {
    case dom::ElementProperty::innerText:
        return "innerText";
    case dom::ElementProperty::alt:
        return "alt";
    case dom::ElementProperty::nameProp:
        return "nameProp";
    case dom::ElementProperty::name:
        return "name";
    case dom::ElementProperty::type:
        return "type";
    case dom::ElementProperty::value:
        return "value";
    }
    return "";
}

// A script string literal that holds only ASCII letters, digits and escapes.
std::string script_literal(std::u16string_view text)
{
    std::string literal = "\"";
    for (char16_t unit : text) {
        if ((unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9')) {
            literal += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            literal += escape;
        }
    }
    return literal + "\"";
}

cdp::CallArgument text_argument(std::u16string_view text)
{
    return cdp::CallArgument::of(protocol_text(text));
}

cdp::CallArgument number_argument(double number)
{
    return cdp::CallArgument::of(number);
}

HandlePtr handle_of(Dispatch& object)
{
    if (auto* remote = dynamic_cast<RemoteObject*>(&object))
        return remote->handle();
    if (auto* element = dynamic_cast<RemoteElement*>(&object))
        return element->handle();
    if (auto* document = dynamic_cast<RemoteDocument*>(&object))
        return document->handle();
    return nullptr;
}

cdp::CallArgument call_argument(const PagePtr& page, const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        return cdp::CallArgument::null_value();
    case VarType::Bool:
        return cdp::CallArgument::of(value.boolean());
    case VarType::I2:
    case VarType::I4:
    case VarType::R8:
        return number_argument(to_r8(value));
    case VarType::String:
    case VarType::Date:
        return text_argument(to_bstr(value));
    case VarType::Object: {
        if (!value.object())
            return cdp::CallArgument::null_value();
        HandlePtr handle = handle_of(*value.object());
        if (!handle || handle->page() != page)
            throw AutomationError(error_number::kTypeMismatch,
                                  "Type mismatch: only objects of the same page can be passed into it");
        return cdp::CallArgument::object(handle->object_id());
    }
    }
    return {};
}

std::vector<cdp::CallArgument> call_arguments(const PagePtr& page, std::u16string_view name,
                                              std::span<const Variant> args)
{
    std::vector<cdp::CallArgument> arguments{text_argument(name)};
    for (const auto& arg : args)
        arguments.push_back(call_argument(page, arg));
    return arguments;
}

bool is_collection(const cdp::RemoteValue& value)
{
    static const char* const kCollections[] = {
        "HTMLCollection",        "HTMLAllCollection", "NodeList", "HTMLFormControlsCollection",
        "HTMLOptionsCollection", "RadioNodeList"};
    if (value.subtype == "array")
        return true;
    for (const char* name : kCollections) {
        if (value.class_name == name)
            return true;
    }
    return false;
}

[[noreturn]] void throw_stale()
{
    throw AutomationError(error_number::kObjectDisconnected,
                          "The object invoked has disconnected from its clients: the frame has gone on to another "
                          "document");
}

}  // namespace

RemoteHandle::RemoteHandle(PagePtr page, std::string object_id)
    : m_page(std::move(page)), m_object_id(std::move(object_id))
{
}

RemoteHandle::~RemoteHandle()
{
    if (!m_object_id.empty())
        m_page->release_object(m_object_id);
}

cdp::RemoteValue RemoteHandle::run(const std::string& declaration, const std::vector<cdp::CallArgument>& arguments,
                                   bool by_value, bool user_gesture) const
{
    m_page->check_page_free();
    try {
        auto result = m_page->call([&] {
            return m_page->client().call_function(m_object_id, declaration, arguments, by_value, user_gesture);
        });
        return result ? *result : cdp::RemoteValue{};
    } catch (const AutomationError& error) {
        auto marker = error.description().find(kNoMember);
        if (marker == std::string::npos)
            throw;
        std::string name = error.description().substr(marker + std::char_traits<char>::length(kNoMember));
        throw_not_supported(page_text(name.substr(0, name.find_first_of("\n\r"))));
    }
}

Variant to_variant(const PagePtr& page, const cdp::RemoteValue& value)
{
    using Kind = cdp::RemoteValue::Kind;
    switch (value.kind) {
    case Kind::Undefined:
        return {};
    case Kind::Null:
        return Variant::Null{};
    case Kind::Boolean:
        return value.boolean;
    case Kind::Number:
        if (value.number == std::trunc(value.number) && value.number >= std::numeric_limits<int32_t>::min() &&
            value.number <= std::numeric_limits<int32_t>::max())
            return static_cast<int32_t>(value.number);
        return value.number;
    case Kind::String:
    case Kind::Other:
        return page_text(value.text);
    case Kind::StringList: {
        BStr joined;
        for (const auto& item : value.items)
            joined += (joined.empty() ? u"" : u",") + page_text(item.value_or(""));
        return joined;
    }
    case Kind::Function:
    case Kind::Object:
        break;
    }
    auto handle = std::make_shared<const RemoteHandle>(page, value.object_id);
    if (value.subtype == "node") {
        if (value.class_name == "HTMLDocument" || value.class_name == "Document" || value.class_name == "XMLDocument")
            return Ref<Dispatch>(make_object<RemoteDocument>(handle));
        return Ref<Dispatch>(make_object<RemoteElement>(handle));
    }
    if (is_collection(value))
        return Ref<Dispatch>(make_object<RemoteCollection>(handle, "this"));
    return Ref<Dispatch>(make_object<RemoteObject>(handle));
}

Variant get_member(Dispatch& self, const RemoteHandle& handle, std::u16string_view name)
{
    auto value = handle.run(std::string("function(n) {") + kResolve + " return this[member(this, n)]; }",
                            {text_argument(name)}, false);
    if (value.kind == cdp::RemoteValue::Kind::Function)
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(&self), BStr(name)));
    return to_variant(handle.page(), value);
}

void put_member(const RemoteHandle& handle, std::u16string_view name, const Variant& value)
{
    handle.run(std::string("function(n, v) {") + kResolve +
                   " const r = resolve(this, n); this[r === null ? n : r] = v; }",
               {text_argument(name), call_argument(handle.page(), value)});
}

Variant call_member(const RemoteHandle& handle, std::u16string_view name, std::span<const Variant> args)
{
    auto value = handle.run(std::string("function(n, ...a) {") + kResolve +
                                " const f = this[member(this, n)];"
                                " if (typeof f !== 'function') throw new ReferenceError('varne:no-member:' + n);"
                                " return f.apply(this, a); }",
                            call_arguments(handle.page(), name, args), false, true);
    return to_variant(handle.page(), value);
}

Variant call_object(const RemoteHandle& handle, std::span<const Variant> args)
{
    std::vector<cdp::CallArgument> arguments;
    for (const auto& arg : args)
        arguments.push_back(call_argument(handle.page(), arg));
    auto value = handle.run("function(...a) { if (typeof this === 'function') return this(...a);"
                            " if (typeof this.item === 'function') { if (typeof a[0] === 'string' && this.namedItem)"
                            " return this.namedItem(a[0]); return this.item(a[0]); }"
                            " throw new ReferenceError('varne:no-member:(default member)'); }",
                            arguments, false);
    return to_variant(handle.page(), value);
}

// RemoteDocument

RemoteDocument::RemoteDocument(PagePtr page, std::string frame_id, std::string foreign_origin)
    : m_page(std::move(page)),
      m_frame_id(std::move(frame_id)),
      m_generation(m_page->state().generation(m_frame_id)),
      m_foreign_origin(std::move(foreign_origin))
{
}

RemoteDocument::RemoteDocument(HandlePtr handle) : m_page(handle->page()), m_handle(std::move(handle)) {}

void RemoteDocument::check_current() const
{
    m_page->check_alive();
    if (!m_frame_id.empty() && m_page->state().generation(m_frame_id) != m_generation)
        throw_stale();
}

HandlePtr RemoteDocument::handle()
{
    check_current();
    if (!m_foreign_origin.empty())
        throw AutomationError(error_number::kPermissionDenied,
                              "Permission denied: the frame shows a document of another origin (" + m_foreign_origin +
                                  ")");
    if (!m_handle) {
        auto value =
            m_page->call([&] { return m_page->client().evaluate(m_page->context_for(m_frame_id), "document", false); });
        check_current();  // the frame may have moved on while the context was looked up
        m_handle = std::make_shared<const RemoteHandle>(m_page, value.object_id);
    }
    return m_handle;
}

BStr RemoteDocument::readyState()
{
    check_current();
    if (!m_frame_id.empty())
        return m_page->state().frame_ready(m_frame_id) ? u"complete" : u"loading";
    return to_bstr(to_variant(m_page, handle()->run("function() { return this.readyState; }")));
}

Ref<dom::FrameCollection> RemoteDocument::frames()
{
    check_current();
    std::string frame_id = m_frame_id;
    if (frame_id.empty()) {
        // A document reached through another object: its frame is the one its window sits in.
        auto holder =
            handle()->run("function() { return this.defaultView && this.defaultView.frameElement; }", {}, false);
        frame_id = holder.object_id.empty()
                       ? m_page->state().main_frame_id()
                       : m_page->call([&] { return m_page->client().frame_id_of(holder.object_id); });
        if (!holder.object_id.empty())
            m_page->release_object(holder.object_id);
    }
    return make_object<RemoteFrames>(m_page, frame_id);
}

Ref<dom::ElementCollection> RemoteDocument::applets()
{
    check_current();
    return make_object<EmptyCollection>();
}

Ref<dom::ElementCollection> RemoteDocument::all()
{
    return make_object<RemoteCollection>(handle(), "this.all");
}

Ref<dom::ElementCollection> RemoteDocument::links()
{
    return make_object<RemoteCollection>(handle(), "this.links");
}

Ref<dom::ElementCollection> RemoteDocument::forms()
{
    return make_object<RemoteCollection>(handle(), "this.forms");
}

Variant RemoteDocument::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"readyState"))
        return readyState();
    if (equals_ignoring_case(name, u"frames"))
        return Ref<Dispatch>(frames());
    if (equals_ignoring_case(name, u"applets"))
        return Ref<Dispatch>(applets());
    if (equals_ignoring_case(name, u"all"))
        return Ref<Dispatch>(all());
    if (equals_ignoring_case(name, u"links"))
        return Ref<Dispatch>(links());
    if (equals_ignoring_case(name, u"forms"))
        return Ref<Dispatch>(forms());
    return get_member(*this, *handle(), name);
}

void RemoteDocument::put_property(std::u16string_view name, const Variant& value)
{
    put_member(*handle(), name, value);
}

Variant RemoteDocument::call_method(std::u16string_view name, std::span<const Variant> args)
{
    return call_member(*handle(), name, args);
}

// RemoteFrames

RemoteFrames::RemoteFrames(PagePtr page, std::string frame_id)
    : m_page(std::move(page)), m_frame_id(std::move(frame_id)), m_generation(m_page->state().generation(m_frame_id))
{
}

std::vector<std::string> RemoteFrames::children() const
{
    m_page->check_alive();
    if (m_page->state().generation(m_frame_id) != m_generation)
        throw_stale();
    return m_page->state().child_frames(m_frame_id);
}

int32_t RemoteFrames::length()
{
    return static_cast<int32_t>(children().size());
}

Ref<dom::FrameWindow> RemoteFrames::item(int32_t index)
{
    auto frames = children();
    if (index < 0 || static_cast<size_t>(index) >= frames.size())
        throw AutomationError(error_number::kSubscriptOutOfRange, "Subscript out of range: frame " +
                                                                      std::to_string(index) + " of a document with " +
                                                                      std::to_string(frames.size()) + " frames");
    return make_object<RemoteFrameWindow>(m_page, frames[static_cast<size_t>(index)]);
}

Variant RemoteFrames::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return length();
    if (equals_ignoring_case(name, u"item"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(u"item")));
    throw_not_supported(name);
}

Variant RemoteFrames::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (!equals_ignoring_case(name, u"item") || args.size() != 1)
        throw_not_supported(name);
    return call_default(args);
}

Variant RemoteFrames::call_default(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "Wrong number of arguments: item takes a position");
    return Ref<Dispatch>(item(to_i4(args[0])));
}

// RemoteFrameWindow

RemoteFrameWindow::RemoteFrameWindow(PagePtr page, std::string frame_id)
    : m_page(std::move(page)), m_frame_id(std::move(frame_id))
{
}

Ref<dom::Document> RemoteFrameWindow::document()
{
    m_page->check_alive();
    auto& state = m_page->state();
    if (!state.has_frame(m_frame_id))
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the frame is gone");
    // A page may not read the document of a frame of another origin, and neither may its
    // scripts here; when it has loaded is no secret, so the waits still see that.
    std::string parent_origin = state.origin_of(state.parent_of(m_frame_id));
    std::string origin = state.origin_of(m_frame_id);
    bool foreign = !origin.empty() && !parent_origin.empty() && origin != parent_origin &&
                   state.url_of(m_frame_id) != "about:blank";
    return make_object<RemoteDocument>(m_page, m_frame_id, foreign ? origin : std::string());
}

void RemoteFrameWindow::set_location(const BStr& url)
{
    m_page->navigate(m_frame_id, protocol_text(url));
}

HandlePtr RemoteFrameWindow::window_handle()
{
    auto value =
        m_page->call([&] { return m_page->client().evaluate(m_page->context_for(m_frame_id), "window", false); });
    return std::make_shared<const RemoteHandle>(m_page, value.object_id);
}

Variant RemoteFrameWindow::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"document"))
        return Ref<Dispatch>(document());
    if (equals_ignoring_case(name, u"frames"))
        return Ref<Dispatch>(make_object<RemoteFrames>(m_page, m_frame_id));
    return get_member(*this, *window_handle(), name);
}

void RemoteFrameWindow::put_property(std::u16string_view name, const Variant& value)
{
    if (equals_ignoring_case(name, u"location"))
        return set_location(to_bstr(value));
    put_member(*window_handle(), name, value);
}

Variant RemoteFrameWindow::call_method(std::u16string_view name, std::span<const Variant> args)
{
    return call_member(*window_handle(), name, args);
}

// RemoteCollection

RemoteCollection::RemoteCollection(HandlePtr base, std::string source)
    : m_base(std::move(base)), m_source(std::move(source))
{
}

cdp::RemoteValue RemoteCollection::run(const std::string& body, const std::vector<cdp::CallArgument>& arguments,
                                       bool by_value) const
{
    return m_base->run(std::string("function(...a) {") + kProperty + " const c = " + m_source + "; " + body + " }",
                       arguments, by_value);
}

int32_t RemoteCollection::length()
{
    return to_i4(to_variant(m_base->page(), run("return c.length;")));
}

Ref<dom::Element> RemoteCollection::item(int32_t index)
{
    auto value = run("const e = c.item ? c.item(a[0]) : c[a[0]]; return e === undefined ? null : e;",
                     {number_argument(index)}, false);
    if (value.object_id.empty())
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the collection has no item at position " + std::to_string(index));
    return make_object<RemoteElement>(std::make_shared<const RemoteHandle>(m_base->page(), value.object_id));
}

Variant RemoteCollection::item_at(int32_t index)
{
    auto value = run("const e = c.item ? c.item(a[0]) : c[a[0]]; return a[0] < c.length ? e : undefined;",
                     {number_argument(index)}, false);
    if (value.kind == cdp::RemoteValue::Kind::Undefined)
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the collection has no item at position " + std::to_string(index));
    return to_variant(m_base->page(), value);
}

Ref<dom::ElementCollection> RemoteCollection::tags(const BStr& tag_name)
{
    if (m_source == "this.all")
        return make_object<RemoteCollection>(m_base, "this.getElementsByTagName(" + script_literal(tag_name) + ")");
    return make_object<RemoteCollection>(
        m_base, "Array.prototype.filter.call(" + m_source +
                    ", e => e.tagName && e.tagName.toUpperCase() === " + script_literal(tag_name) + ".toUpperCase())");
}

std::vector<BStr> RemoteCollection::read_each(dom::ElementProperty property)
{
    auto value = run("return Array.from(c, e => prop(e, a[0]));", {text_argument(from_utf8(property_name(property)))});
    std::vector<BStr> texts;
    texts.reserve(value.items.size());
    for (const auto& item : value.items)
        texts.push_back(page_text(item.value_or("")));
    return texts;
}

std::vector<std::optional<BStr>> RemoteCollection::read_each_first_image(dom::ElementProperty property)
{
    auto value = run("return Array.from(c, e => { const i = Array.prototype.find.call(e.children,"
                     " k => k.tagName.toUpperCase() === 'IMG'); return i ? prop(i, a[0]) : null; });",
                     {text_argument(from_utf8(property_name(property)))});
    std::vector<std::optional<BStr>> texts;
    texts.reserve(value.items.size());
    for (const auto& item : value.items)
        texts.push_back(item ? std::optional(page_text(*item)) : std::nullopt);
    return texts;
}

Variant RemoteCollection::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return length();
    if (equals_ignoring_case(name, u"item") || equals_ignoring_case(name, u"tags"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    auto value = run(std::string(kResolve) + " return c[member(c, a[0])];", {text_argument(name)}, false);
    if (value.kind == cdp::RemoteValue::Kind::Function)
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    return to_variant(m_base->page(), value);
}

Variant RemoteCollection::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"tags") && args.size() == 1)
        return Ref<Dispatch>(tags(to_bstr(args[0])));
    if (equals_ignoring_case(name, u"item"))
        return call_default(args);
    std::vector<cdp::CallArgument> arguments = call_arguments(m_base->page(), name, args);
    auto value =
        run(std::string(kResolve) + " const f = c[member(c, a[0])];"
                                    " if (typeof f !== 'function') throw new ReferenceError('varne:no-member:' + a[0]);"
                                    " return f.apply(c, a.slice(1));",
            arguments, false);
    return to_variant(m_base->page(), value);
}

Variant RemoteCollection::call_default(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "Wrong number of arguments: item takes a position");
    if (args[0].type() == VarType::String) {
        auto value = run("const e = c.namedItem ? c.namedItem(a[0]) : null; return e;",
                         {text_argument(args[0].string())}, false);
        return to_variant(m_base->page(), value);
    }
    return Ref<Dispatch>(item(to_i4(args[0])));
}

// EmptyCollection

Ref<dom::Element> EmptyCollection::item(int32_t index)
{
    throw AutomationError(error_number::kObjectRequired,
                          "Object required: the collection has no item at position " + std::to_string(index));
}

Variant EmptyCollection::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return int32_t(0);
    throw_not_supported(name);
}

// RemoteElement

Variant RemoteElement::readyState()
{
    return to_variant(m_handle->page(),
                      m_handle->run("function() { const v = this.readyState; if (v !== undefined) return v;"
                                    " return ['APPLET', 'OBJECT', 'EMBED'].includes(this.tagName) ? 4 : undefined; }"));
}

BStr RemoteElement::property(dom::ElementProperty property)
{
    auto value = m_handle->run(std::string("function(p) {") + kProperty + " return prop(this, p); }",
                               {text_argument(from_utf8(property_name(property)))});
    return page_text(value.text);
}

Ref<dom::ElementCollection> RemoteElement::children()
{
    return make_object<RemoteCollection>(m_handle, "this.children");
}

Ref<dom::ElementCollection> RemoteElement::elements()
{
    return make_object<RemoteCollection>(
        m_handle, "(this.elements || (() => { throw new ReferenceError('varne:no-member:elements'); })())");
}

void RemoteElement::click()
{
    m_handle->run("function() { this.click(); }", {}, true, true);
}

Variant RemoteElement::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"readyState"))
        return readyState();
    if (equals_ignoring_case(name, u"nameProp"))
        return property(dom::ElementProperty::nameProp);
    if (equals_ignoring_case(name, u"children"))
        return Ref<Dispatch>(children());
    if (equals_ignoring_case(name, u"elements"))
        return Ref<Dispatch>(elements());
    return get_member(*this, *m_handle, name);
}

void RemoteElement::put_property(std::u16string_view name, const Variant& value)
{
    put_member(*m_handle, name, value);
}

Variant RemoteElement::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"click") && args.empty()) {
        click();
        return {};
    }
    return call_member(*m_handle, name, args);
}

}  // namespace varne::chromium
