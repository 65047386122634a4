#include "frame/collection.h"

#include <algorithm>

#include "frame/automation_error.h"
#include "frame/late_binding.h"

namespace varne {

namespace {

[[noreturn]] void throw_not_collection(std::string_view why)
{
    throw AutomationError(error_number::kNotCollection, "Object not a collection: " + std::string(why));
}

Collection* offered(Dispatch& object)
{
    object.check_apartment();
    if (const auto* cls = object.class_descriptor())
        throw_not_collection("a " + to_utf8(cls->prog_id) + " object");
    return dynamic_cast<Collection*>(&object);
}

}  // namespace

int32_t collection_count(Dispatch& object)
{
    if (auto* collection = offered(object))
        return collection->item_count();
    try {
        return to_i4(get_property(object, u"length"));
    } catch (const AutomationError& error) {
        if (error.number() != error_number::kNotSupported)
            throw;
        throw_not_collection("it has no length");
    }
}

Variant collection_item(Dispatch& object, int32_t index)
{
    if (auto* collection = offered(object))
        return collection->item_at(index);
    const Variant position[] = {index};
    return call_default(object, position);
}

Enumeration::Enumeration(Dispatch& collection)
{
    auto items = std::make_shared<std::vector<Variant>>();
    const int32_t count = collection_count(collection);
    items->reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t index = 0; index < count; ++index)
        items->push_back(collection_item(collection, index));
    m_items = std::move(items);
}

std::optional<Variant> Enumeration::next()
{
    if (m_position >= m_items->size())
        return std::nullopt;
    return (*m_items)[m_position++];
}

size_t Enumeration::skip(size_t count)
{
    const size_t passed = std::min(count, m_items->size() - m_position);
    m_position += passed;
    return passed;
}

}  // namespace varne
