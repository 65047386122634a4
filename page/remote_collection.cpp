#include "page/remote_objects.h"

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "page/page_scripts.h"
#include "page/page_text.h"
#include "page/remote_arguments.h"

namespace varne::page {

// RemoteCollection

RemoteCollection::RemoteCollection(HandlePtr base, CollectionSource source)
    : m_base(std::move(base)), m_source(std::move(source))
{
}

RemoteValue RemoteCollection::run(std::string_view task, std::vector<CallArgument> arguments, bool by_value) const
{
    std::vector<CallArgument> source{CallArgument::of(std::string(task)), CallArgument::of(m_source.kind),
                                     number_argument(static_cast<double>(m_source.tags.size()))};
    for (const auto& tag : m_source.tags)
        source.push_back(text_argument(tag));
    arguments.insert(arguments.begin(), source.begin(), source.end());
    return m_base->run(scripts::kCollectionTask, arguments, by_value);
}

int32_t RemoteCollection::length()
{
    return to_i4(to_variant(m_base->page(), run("length")));
}

Ref<dom::Element> RemoteCollection::item(int32_t index)
{
    auto value = run("item", {number_argument(index)}, false);
    if (value.handle.empty())
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the collection has no item at position " + std::to_string(index));
    return make_object<RemoteElement>(std::make_shared<const RemoteHandle>(m_base->page(), value.handle));
}

Variant RemoteCollection::item_at(int32_t index)
{
    auto value = run("itemAt", {number_argument(index)}, false);
    if (value.kind == RemoteValue::Kind::Undefined)
        throw AutomationError(error_number::kObjectRequired,
                              "Object required: the collection has no item at position " + std::to_string(index));
    return to_variant(m_base->page(), value);
}

Ref<dom::ElementCollection> RemoteCollection::tags(const BStr& tag_name)
{
    CollectionSource narrowed = m_source;
    narrowed.tags.push_back(tag_name);
    return make_object<RemoteCollection>(m_base, std::move(narrowed));
}

std::vector<BStr> RemoteCollection::read_each(dom::ElementProperty property)
{
    auto value = run("readEach", {property_argument(property)});
    std::vector<BStr> texts;
    texts.reserve(value.items.size());
    for (const auto& item : value.items)
        texts.push_back(page_text(item.value_or("")));
    return texts;
}

std::vector<std::optional<BStr>> RemoteCollection::read_each_first_image(dom::ElementProperty property)
{
    auto value = run("readEachFirstImage", {property_argument(property)});
    std::vector<std::optional<BStr>> texts;
    texts.reserve(value.items.size());
    for (const auto& item : value.items)
        texts.push_back(item ? std::optional(page_text(*item)) : std::nullopt);
    return texts;
}

std::optional<int64_t> RemoteCollection::count_named(dom::ElementProperty property, bool first_image, const BStr& text,
                                                     int64_t most_items)
{
    auto value = run("countNamed", {property_argument(property), CallArgument::of(first_image), text_argument(text),
                                    number_argument(static_cast<double>(most_items))});
    if (value.kind != RemoteValue::Kind::Number || value.number < 0)
        return std::nullopt;
    return static_cast<int64_t>(value.number);
}

Variant RemoteCollection::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"length"))
        return length();
    if (equals_ignoring_case(name, u"item") || equals_ignoring_case(name, u"tags"))
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    auto value = run("get", {text_argument(name)}, false);
    if (value.kind == RemoteValue::Kind::Function)
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(name)));
    return to_variant(m_base->page(), value);
}

Variant RemoteCollection::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (equals_ignoring_case(name, u"tags") && args.size() == 1)
        return Ref<Dispatch>(tags(to_bstr(args[0])));
    if (equals_ignoring_case(name, u"item"))
        return call_default(args);
    std::vector<CallArgument> arguments = call_arguments(m_base->page(), name, args);
    auto value = run("call", std::move(arguments), false);
    return to_variant(m_base->page(), value);
}

Variant RemoteCollection::call_default(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "Wrong number of arguments: item takes a position");
    if (args[0].type() == VarType::String) {
        auto value = run("namedItem", {text_argument(args[0].string())}, false);
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
    return to_variant(m_handle->page(), m_handle->task("elementReadyState"));
}

BStr RemoteElement::property(dom::ElementProperty property)
{
    auto value = m_handle->task("property", {property_argument(property)});
    return page_text(value.text);
}

Ref<dom::ElementCollection> RemoteElement::children()
{
    return make_object<RemoteCollection>(m_handle, CollectionSource{"children", {}});
}

Ref<dom::ElementCollection> RemoteElement::elements()
{
    return make_object<RemoteCollection>(m_handle, CollectionSource{"elements", {}});
}

void RemoteElement::click()
{
    m_handle->task("click", {}, true, true);
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

}  // namespace varne::page
