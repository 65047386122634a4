#include "dom/object_model.h"

#include <algorithm>

namespace varne::dom {

Variant ElementCollection::item_at(int32_t index)
{
    return Ref<Dispatch>(item(index));
}

Variant FrameCollection::item_at(int32_t index)
{
    return Ref<Dispatch>(item(index));
}

std::vector<BStr> ElementCollection::read_each(ElementProperty property)
{
    int32_t count = length();
    std::vector<BStr> values;
    values.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (int32_t index = 0; index < count; ++index)
        values.push_back(item(index)->property(property));
    return values;
}

std::vector<std::optional<BStr>> ElementCollection::read_each_first_image(ElementProperty property)
{
    int32_t count = length();
    std::vector<std::optional<BStr>> values;
    values.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (int32_t index = 0; index < count; ++index) {
        auto images = item(index)->children()->tags(u"IMG");
        if (images->length() > 0)
            values.emplace_back(images->item(0)->property(property));
        else
            values.emplace_back(std::nullopt);
    }
    return values;
}

std::optional<int64_t> ElementCollection::count_named(ElementProperty property, bool first_image, const BStr& text,
                                                      int64_t most_items)
{
    std::vector<std::optional<BStr>> values;
    if (first_image) {
        values = read_each_first_image(property);
    } else {
        for (auto& value : read_each(property))
            values.emplace_back(std::move(value));
    }
    if (static_cast<int64_t>(values.size()) > most_items)
        return std::nullopt;
    return std::count_if(values.begin(), values.end(),
                         [&](const auto& value) { return value && trim_spaces(*value) == text; });
}

}  // namespace varne::dom
